#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/RouteMonitor.hpp"
#include "qt/RouteWatcher.hpp"
#include "quillo/metrics/DataUsage.hpp"
#include "quillo/metrics/Device.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/settings/Configuration.hpp"
#include "quillo/widget/TodayViewController.hpp"
#include "quillo/widget/VirtualEventLoop.hpp"
#include "support/Child.hpp"
#include "support/Require.hpp"
#include "support/Sandbox.hpp"
#include "support/Views.hpp"

using namespace quillo;

namespace {

// Sixty interfaces in network namespaces of the test's own, with the default routes of
// both families on the last one: its lines lie far past the page that one read of
// net/dev and ipv6_route returns. Traffic goes only to the test's own peer namespace.
constexpr int pairs = 60;

// This process in a network namespace of its own, and a peer process whose namespace
// holds the far ends. /sys stays the host's, as in a container or after `unshare -n`:
// it shows the host's interfaces, so the readers must find this namespace's elsewhere.
class Sandbox {
  public:
    Sandbox() {
        problem_ = test::enterNetworkNamespace(false);
        if (!problem_.empty()) return;
        // A peer that cannot have a namespace of its own ends, and the moves to it fail.
        peer_ = test::Child::holdingStill([] {
            if (::unshare(CLONE_NEWNET) != 0) ::_exit(1);
        });
        std::string near, far;
        char line[256];
        for (int i = 0; i < pairs; ++i) {
            std::snprintf(line, sizeof line,
                          "link add q%d type veth peer name p%d\nlink set p%d netns %d\n"
                          "addr add 10.%d.0.1/24 dev q%d\naddr add fd00:%d::1/64 dev q%d nodad\n"
                          "link set q%d up\n",
                          i, i, i, int(peer_->pid()), i, i, i, i, i);
            near += line;
            std::snprintf(line, sizeof line,
                          "addr add 10.%d.0.2/24 dev p%d\naddr add fd00:%d::2/64 dev p%d nodad\n"
                          "link set p%d up\n",
                          i, i, i, i, i);
            far += line;
        }
        const test::RunResult a = test::ipBatch(near + routesOn(pairs - 1, "add"));
        const test::RunResult b = test::ipBatch(far, peer_->pid());
        if (a.status != 0 || b.status != 0)
            problem_ = "cannot make virtual interfaces here: " + a.err + b.err;
    }

    const std::string& problem() const { return problem_; }

    static std::string routesOn(int i, const char* verb) {
        const std::string n = std::to_string(i);
        return std::string("route ") + verb + " default via 10." + n + ".0.2 dev q" + n +
               "\nroute " + verb + " default via fd00:" + n + "::2 dev q" + n + "\n";
    }

  private:
    std::unique_ptr<test::Child> peer_;
    std::string problem_;
};

// Bytes to the peer of interface i.
void send(int i, std::size_t bytes) {
    test::sendUdp((10u << 24) | (unsigned(i) << 16) | 2u, bytes);
}

// Waits until the kernel knows the link address of interface i's peer, so that what is
// sent there leaves at once instead of waiting on address resolution (or being dropped
// beyond its queue) while the virtual clock reads the counters.
bool resolvePeer(int i) {
    const std::string peer = "10." + std::to_string(i) + ".0.2";
    for (int tries = 0; tries < 60; ++tries) {
        send(i, 1);
        const std::string state =
            test::run("ip neigh show " + peer + " dev q" + std::to_string(i)).out;
        if (state.find("lladdr") != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// What ip(8) says the interface has received and sent.
data_usage ipCounters(const std::string& name) {
    const test::RunResult r = test::run("ip -j -s link show dev " + name);
    const auto stats = nlohmann::json::parse(r.out).at(0).at("stats64");
    return {stats.at("tx").at("bytes").get<std::uint64_t>(),
            stats.at("rx").at("bytes").get<std::uint64_t>()};
}

TEST(ManyInterfaces, MeasuresTheRightInterfaceAndSurvivesARouteMove) {
    Sandbox sandbox;
    QUILLO_REQUIRE(sandbox.problem().empty(), sandbox.problem());
    ASSERT_TRUE(resolvePeer(58) && resolvePeer(59));
    send(58, 3'000'000);  // the interface the route moves to is far busier
    send(59, 20'000);

    LinuxPlatform live;
    ScopedPlatform scope(live);
    ASSERT_EQ(Device::shared().globalNetworkState().second.primaryInterface, "q59")
        << "IPv6's default route, past the first page";
    ASSERT_EQ(primaryInterfaceToMeasure(), "q59");
    const data_usage measured = get_data_usage("q59");
    const data_usage ip = ipCounters("q59");
    EXPECT_GE(measured.upload, 20'000u);
    EXPECT_NEAR(double(measured.upload), double(ip.upload), 2048);
    EXPECT_NEAR(double(measured.download), double(ip.download), 2048);

    test::TempDir dir;
    Configuration config(std::make_unique<SettingsSuite>(dir.path() / "suite.json"));
    VirtualEventLoop loop;
    IdentityLocalizer localizer;
    test::Views views;
    auto controller = TodayViewController::initWithCoder(views, {loop, localizer, config});
    RouteMonitor routes;
    controller->widgetPerformUpdateWithCompletionHandler({});
    loop.advance(1.0);
    send(59, 10'000);
    loop.advance(1.0);
    EXPECT_NE(views.text("uploadLabel"), "0 B/s");

    // A busy core while the route moves: the next CPU figure must measure it.
    std::atomic<bool> spin{true};
    std::thread busy([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (spin && std::chrono::steady_clock::now() < until) {
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(test::ipBatch(Sandbox::routesOn(59, "del") + Sandbox::routesOn(58, "add")).status, 0);
    ASSERT_TRUE(routes.changed());
    controller->networkConfigurationDidChange();
    loop.advance(1.0);
    spin = false;
    busy.join();
    EXPECT_EQ(controller->measuredInterface(), "q58");
    EXPECT_EQ(views.text("downloadLabel"), "0 B/s") << "never two interfaces' difference";
    EXPECT_EQ(views.text("uploadLabel"), "0 B/s");
    EXPECT_NE(views.text("cpuPercentLabel"), "0%") << "a route change keeps the CPU baseline";

    send(58, 50'000);
    loop.advance(1.0);
    EXPECT_TRUE(views.text("uploadLabel").ends_with("KB/s")) << views.text("uploadLabel");
}

// In a network namespace of its own, a default route appearing on a new interface must
// reach the host as a change of the primary interface.
TEST(RouteWatcher, NewDefaultRouteIsAChangeOfPrimaryInterface) {
    const std::string problem = quillo::test::enterNetworkNamespace(false);
    QUILLO_REQUIRE(problem.empty(), problem);
    int argc = 1;
    char name[] = "netns_test";
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
