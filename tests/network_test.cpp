#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "metrics/DataUsage.hpp"
#include "metrics/Device.hpp"
#include "platform/linux/LinuxPlatform.hpp"
#include "platform/linux/Parsers.hpp"
#include "settings/SuiteWriter.hpp"
#include "support/FakePlatform.hpp"
#include "support/TempDir.hpp"
#include "support/Views.hpp"
#include "widget/VirtualEventLoop.hpp"

using namespace quillo;

namespace {

TEST(FormatRate, UnitLadder) {
    EXPECT_EQ(formatRate(0), "0 B/s");
    EXPECT_EQ(formatRate(899), "899 B/s");
    EXPECT_EQ(formatRate(900), "0.9 KB/s");
    EXPECT_EQ(formatRate(921'599), "900.0 KB/s");
    EXPECT_EQ(formatRate(921'600), "0.9 MB/s");
    EXPECT_EQ(formatRate(943'718'399), "900.0 MB/s");
    EXPECT_EQ(formatRate(943'718'400), "0.9 GB/s");
    EXPECT_EQ(formatRate(UINT64_MAX), "17179869184.0 GB/s");
}

TEST(NetDevParse, NamesCountersAndDamagedLines) {
    const char* text =
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets\n"
        "  eth0:68210035552 520993275    0    0    0     0          0         0 9315587528 "
        "43451486    0    0    0     0       0          0\n"
        "docker0:    2568      38    0    0\n"
        "ibr10:30:       1       0    0    0    0     0          0         0        2       0    0 "
        "   0     0       0          0\n"
        "wlan0 12 0 0 0 0 0 0 0 34 0 0 0 0 0 0 0\n"
        " bad0: 1 2 x 4 5 6 7 8 9 10 11 12 13 14 15 16\n"
        "  eth0: 7 0 0 0 0 0 0 0 8 0 0 0 0 0 0 0\n";
    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> seen;
    forEachNetDevLine(text, [&](std::string_view name, std::uint64_t in, std::uint64_t out) {
        seen.emplace_back(std::string(name), in, out);
        return true;
    });
    EXPECT_THAT(seen, ::testing::ElementsAre(std::make_tuple("eth0", 68210035552u, 9315587528u),
                                             std::make_tuple("ibr10:30", 1u, 2u),
                                             std::make_tuple("eth0", 7u, 8u)));
}

struct RouteCase {
    const char* name;
    const char* text;
    bool ipv6;
    const char* interface;  // nullptr: no default route
    const char* gateway;
};

class DefaultRouteParse : public ::testing::TestWithParam<RouteCase> {};

TEST_P(DefaultRouteParse, PicksTheUsableRouteWithTheLowestMetric) {
    const RouteCase& c = GetParam();
    const auto route = c.ipv6 ? parseIPv6DefaultRoute(c.text) : parseIPv4DefaultRoute(c.text);
    if (!c.interface) {
        EXPECT_EQ(route, std::nullopt);
        return;
    }
    ASSERT_TRUE(route);
    EXPECT_EQ(route->interface, c.interface);
    EXPECT_EQ(route->gateway, c.gateway);
}

INSTANTIATE_TEST_SUITE_P(
    Linux, DefaultRouteParse,
    ::testing::Values(
        RouteCase{
            "IPv4LowestMetricWins",
            "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n"
            "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
            "eth0\t00000000\t0100FE0A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
            "eth0\t0000FE0A\t00000000\t0001\t0\t0\t0\t0080FFFF\t0\t0\t0\n",
            false, "eth0", "10.254.0.1"},
        RouteCase{"IPv4RejectDownAndLoSkipped",
                  "Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT\n"
                  "eth1 00000000 01010101 0201 0 0 1 00000000 0 0 0\n"
                  "eth2 00000000 02020202 0002 0 0 2 00000000 0 0 0\n"
                  "lo 00000000 00000000 0001 0 0 3 00000000 0 0 0\n"
                  "tun0 00000000 00000000 0001 0 0 50 00000000 0 0 0\n",
                  false, "tun0", ""},
        RouteCase{"IPv4MalformedGatewayLineSkipped",
                  "Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT\n"
                  "eth3 00000000 0100FE0AA 0003 0 0 1024 00000000 0 0 0\n"
                  "eth4 00000000 0100FE0A 0003 0 0 x 00000000 0 0 0\n"
                  "eth5 00000000\n",
                  false, nullptr, nullptr},
        RouteCase{"IPv4GatewayWithoutGatewayFlag",
                  "eth0    00000000        0120372D        0001    0       0       0       "
                  "00000000        0       0       0\n",
                  false, "eth0", "45.55.32.1"},
        RouteCase{"IPv4EmptyFile", "", false, nullptr, nullptr},
        RouteCase{"IPv6DefaultBesideLoReject",
                  "00000000000000000000000000000000 60 00000000000000000000000000000000 00 "
                  "00000000000000000000000000000000 00000400 00000000 00000000 00200200       lo\n"
                  "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                  "20010001000000000000000000000001 00000064 00000000 00000000 00000003 eth3\n",
                  true, "eth3", "2001:1::1"},
        RouteCase{"IPv6LowestMetricWins",
                  "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                  "fe800000000000000000000000000001 00000400 0 0 00000003 wlan0\n"
                  "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                  "fe800000000000000000000000000002 00000064 0 0 00000003 eth0\n"
                  "20010002000000000000000000000000 40 00000000000000000000000000000000 00 "
                  "00000000000000000000000000000000 00000001 0 0 00000001 eth9\n",
                  true, "eth0", "fe80::2"},
        RouteCase{
            "IPv6OverlongDestinationAndBlankLine",
            "000000000000000000000000000000000 00 00000000000000000000000000000000 00 "
            "fe80000000000000021fcafffea0ec00 00000064 00000000 00000000 00000003 enp1s0f0\n\n",
            true, nullptr, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

class DataUsageOnFake : public ::testing::Test {
  protected:
    test::FakePlatform platform;
};

TEST_F(DataUsageOnFake, UnknownNameReadsNothingAndReturnsZero) {
    platform.counters("eth0", 10, 20);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(get_data_usage("wlan9"), (data_usage{0, 0}));
    EXPECT_EQ(platform.interfaceListWalks, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(DataUsageOnFake, FirstEntryWinsAndDirectionsAreNotSwapped) {
    platform.counters("lo", 1, 1);
    platform.counters("eth0", 100, 200);
    platform.interfaces.emplace_back("eth0", 999, 999);
    EXPECT_EQ(get_data_usage("eth0"), (data_usage{200, 100}));
    platform.indices["ghost"] = 7;  // an index, but no entry in the list
    EXPECT_EQ(get_data_usage("ghost"), (data_usage{0, 0}));
    platform.interfaceListFails = true;
    EXPECT_EQ(get_data_usage("eth0"), (data_usage{0, 0}));
}

TEST_F(DataUsageOnFake, NoBufferPrintsOneLine) {
    platform.counters("eth0", 100, 200);
    platform.interfaceListThrows = true;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(get_data_usage("eth0"), (data_usage{0, 0}));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "malloc failed\n");
}

TEST(DataUsageOnLinux, IndexFromSysfsCountersFromNetDev) {
    test::TempDir dir;
    dir.write("proc/net/dev",
              "Inter-| header\n face | header\n"
              "  eth0: 5 0 0 0 0 0 0 0 6 0 0 0 0 0 0 0\n"
              "  eth0: 7 0 0 0 0 0 0 0 8 0 0 0 0 0 0 0\n");
    dir.write("sys/class/net/eth0/ifindex", "2\n");
    dir.write("sys/class/net/eth1/ifindex", "3\n");
    LinuxPlatform linux({(dir.path() / "proc").string(), (dir.path() / "sys").string()});
    ScopedPlatform scope(linux);
    EXPECT_EQ(get_data_usage("eth0"), (data_usage{6, 5}));
    EXPECT_EQ(get_data_usage("eth1"), (data_usage{0, 0})) << "an interface the list lacks";
    EXPECT_EQ(linux.if_nametoindex("../../../etc"), 0u);
    EXPECT_EQ(linux.if_nametoindex("eth0"), 2u);
}

TEST(DeviceOnFake, FamiliesAndTheirFields) {
    test::FakePlatform platform;
    EXPECT_EQ(Device::shared().globalNetworkState(),
              (std::pair<GlobalNetworkState, GlobalNetworkState>{}));
    platform.route(kGlobalIPv4StateKey, {{"PrimaryInterface", std::string("en0")},
                                         {"Router", std::string("192.168.1.1")},
                                         {"PrimaryService", std::string("8F3A-00B1-AbC")}});
    auto [v4, v6] = Device::shared().globalNetworkState();
    EXPECT_EQ(v4, (GlobalNetworkState{"en0", "192.168.1.1", "8f3a-00b1-abc"}));
    EXPECT_EQ(v6, GlobalNetworkState{});

    platform.route(kGlobalIPv6StateKey,
                   {{"PrimaryInterface", std::string("EN1")}, {"Mtu", 1500.0}});
    std::tie(v4, v6) = Device::shared().globalNetworkState();
    EXPECT_EQ(v6, GlobalNetworkState{}) << "one value that is not text spoils the family";
    platform.route(kGlobalIPv6StateKey, {{"PrimaryInterface", std::string("EN1")}});
    std::tie(v4, v6) = Device::shared().globalNetworkState();
    EXPECT_EQ(v6, (GlobalNetworkState{"EN1", std::nullopt, std::nullopt}))
        << "names keep their case";
    platform.store[kGlobalIPv4StateKey] = PropertyValue(std::string("not a dictionary"));
    std::tie(v4, v6) = Device::shared().globalNetworkState();
    EXPECT_EQ(v4, GlobalNetworkState{});
}

class NetworkRow : public ::testing::Test {
  protected:
    test::FakePlatform platform;
    test::TempDir dir;
    std::filesystem::path suitePath = dir.path() / "suite.json";
    Configuration config{std::make_unique<SettingsSuite>(suitePath)};
    VirtualEventLoop loop;
    IdentityLocalizer localizer;
    test::Views views;
    std::shared_ptr<TodayViewController> controller =
        TodayViewController::initWithCoder(views, {loop, localizer, config});

    void primary(const char* key, const char* name) {
        platform.route(key, {{"PrimaryInterface", std::string(name)}});
    }
    void update() { controller->widgetPerformUpdateWithCompletionHandler({}); }
    std::pair<std::string, std::string> tick(double seconds = 1.0) {
        loop.advance(seconds);
        return {views.text("downloadLabel"), views.text("uploadLabel")};
    }
    using Labels = std::pair<std::string, std::string>;
};

TEST_F(NetworkRow, DiscoveryPrefersIPv6) {
    primary(kGlobalIPv4StateKey, "eth0");
    update();
    EXPECT_EQ(controller->measuredInterface(), "eth0");
    primary(kGlobalIPv6StateKey, "wlan0");
    update();
    EXPECT_EQ(controller->measuredInterface(), "wlan0");
    platform.store.erase(kGlobalIPv4StateKey);
    update();
    EXPECT_EQ(controller->measuredInterface(), "wlan0");
}

TEST_F(NetworkRow, NoInterfaceShowsDashesAndReadsNoCounters) {
    platform.counters("eth0", 1, 1);
    update();
    EXPECT_EQ(tick(), (Labels{"--", "--"}));
    EXPECT_EQ(tick(), (Labels{"--", "--"}));
    EXPECT_EQ(platform.interfaceListWalks, 0);
}

TEST_F(NetworkRow, FirstTickIsZeroThenDifferencesPerSecond) {
    primary(kGlobalIPv4StateKey, "eth0");
    platform.counters("eth0", 5'000'000, 7'000'000);
    update();
    EXPECT_EQ(tick(), (Labels{"0 B/s", "0 B/s"}))
        << "traffic before the first sample does not count";
    platform.counters("eth0", 5'000'000 + 2048, 7'000'000 + 512);
    EXPECT_EQ(tick(), (Labels{"2.0 KB/s", "512 B/s"})) << "download is received, upload is sent";
}

TEST_F(NetworkRow, RediscoveryThatFindsNothingKeepsTheBaseline) {
    primary(kGlobalIPv4StateKey, "eth0");
    platform.counters("eth0", 1000, 1000);
    update();
    tick();
    platform.store.clear();
    update();
    platform.counters("eth0", 1000 + 3000, 1000);
    EXPECT_EQ(tick(), (Labels{"--", "--"}));
    primary(kGlobalIPv4StateKey, "eth0");
    update();
    // The next tick compares with the sample two ticks old, spread over both seconds.
    EXPECT_EQ(tick(), (Labels{"1.5 KB/s", "0 B/s"}));
}

TEST_F(NetworkRow, RestartedCountersShowZeroAndBecomeTheBaseline) {
    primary(kGlobalIPv4StateKey, "eth0");
    platform.counters("eth0", 10'000'000, 10'000'000);
    update();
    tick();
    platform.counters("eth0", 100, 10'000'100);
    EXPECT_EQ(tick(), (Labels{"0 B/s", "0 B/s"}));
    platform.counters("eth0", 1124, 10'000'600);
    EXPECT_EQ(tick(), (Labels{"1.0 KB/s", "500 B/s"}));
}

TEST_F(NetworkRow, DifferencesAreScaledToOneSecond) {
    updateSuite(suitePath, [](SuiteDocument& d) { d["RefreshRate"] = 2; });
    primary(kGlobalIPv4StateKey, "eth0");
    platform.counters("eth0", 0, 0);
    update();
    tick(2.0);
    platform.counters("eth0", 4096, 1600);
    EXPECT_EQ(tick(2.0), (Labels{"2.0 KB/s", "800 B/s"}));
}

}  // namespace
