#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

// For a test that needs what a developer's machine may lack (root, namespaces, a
// session bus): skipped there with the reason, but a failure in CI (QUILLO_CI set),
// where it must run.
#define QUILLO_REQUIRE(condition, why)           \
    do {                                         \
        if (!(condition)) {                      \
            if (std::getenv("QUILLO_CI")) {      \
                FAIL() << "cannot run: " << why; \
            } else {                             \
                GTEST_SKIP() << why;             \
            }                                    \
        }                                        \
    } while (0)
