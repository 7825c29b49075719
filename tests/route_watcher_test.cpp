#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include "qt/RouteWatcher.hpp"
#include "quillo/metrics/Device.hpp"
#include "quillo/widget/TodayViewController.hpp"
#include "support/Require.hpp"
#include "support/Sandbox.hpp"

namespace {

// In a network namespace of its own, a default route appearing on a new interface must
// reach the host as a change of the primary interface.
TEST(RouteWatcher, NewDefaultRouteIsAChangeOfPrimaryInterface) {
    const std::string problem = quillo::test::enterNetworkNamespace(false);
    QUILLO_REQUIRE(problem.empty(), problem);
    int argc = 1;
    char name[] = "route_watcher_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    ASSERT_EQ(quillo::primaryInterfaceToMeasure(), std::nullopt);
    int changes = 0;
    quillo::RouteWatcher watcher([&] {
        ++changes;
        QCoreApplication::quit();
    });
    ASSERT_TRUE(watcher.listening());
    ASSERT_EQ(quillo::test::ipBatch("link add quillo0 type veth peer name quillo1\n"
                                    "link set quillo0 up\nroute add default dev quillo0\n")
                  .status,
              0);
    QTimer::singleShot(5000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(quillo::primaryInterfaceToMeasure(), "quillo0");
}

}  // namespace
