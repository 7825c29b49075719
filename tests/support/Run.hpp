#pragma once

#include <string>

#include "support/TempDir.hpp"

namespace quillo::test {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line with its output captured in files of a scratch folder.
RunResult run(const std::string& commandLine);

}  // namespace quillo::test
