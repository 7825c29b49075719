#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>

#include "qt/RouteWatcher.hpp"
#include "quillo/metrics/Device.hpp"
#include "quillo/widget/TodayViewController.hpp"

namespace {

// In a network namespace of its own, a default route appearing on a new interface must
// reach the host as a change of the primary interface.
TEST(RouteWatcher, NewDefaultRouteIsAChangeOfPrimaryInterface) {
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        GTEST_SKIP() << "needs a network namespace";
    if (std::system("command -v ip >/dev/null") != 0) GTEST_SKIP() << "needs iproute2";
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
    if (std::system("ip link add quillo0 type veth peer name quillo1") != 0) {
        GTEST_SKIP() << "cannot make a virtual interface here";
    }
    ASSERT_EQ(std::system("ip link set quillo0 up && ip route add default dev quillo0"), 0);
    QTimer::singleShot(5000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(quillo::primaryInterfaceToMeasure(), "quillo0");
}

}  // namespace
