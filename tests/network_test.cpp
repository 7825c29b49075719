#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quillo/metrics/DataUsage.hpp"
#include "quillo/metrics/Device.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/platform/linux/Network.hpp"
#include "quillo/settings/SuiteWriter.hpp"
#include "quillo/widget/Format.hpp"
#include "support/FakePlatform.hpp"
#include "support/Panel.hpp"
#include "support/TempDir.hpp"

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

// One line of net/route, and of net/ipv6_route, as the kernel writes them.
std::string v4(const char* iface, const char* destination, const char* gateway, const char* flags,
               const char* metric, const char* mask = "00000000") {
    return std::string(iface) + "\t" + destination + "\t" + gateway + "\t" + flags + "\t0\t0\t" +
           metric + "\t" + mask + "\t0\t0\t0\n";
}
std::string v6(const char* destination, const char* prefix, const char* hop, const char* metric,
               const char* flags, const char* iface) {
    return std::string(destination) + " " + prefix + " 00000000000000000000000000000000 00 " + hop +
           " " + metric + " 00000000 00000000 " + flags + " " + iface + "\n";
}
constexpr const char* zero6 = "00000000000000000000000000000000";

TEST(DefaultRouteParse, UsableRouteWithTheLowestMetricWins) {
    const std::string header =
        "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n";
    auto r = parseIPv4DefaultRoute(header + v4("wlan0", "00000000", "0101A8C0", "0003", "600") +
                                       v4("eth0", "00000000", "0100FE0A", "0003", "100") +
                                       v4("eth0", "0000FE0A", "00000000", "0001", "0", "0080FFFF"),
                                   std::endian::little);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->interface, "eth0");
    EXPECT_EQ(r->gateway, "10.254.0.1");
    r = parseIPv4DefaultRoute(v4("eth1", "00000000", "01010101", "0201", "1") +  // reject
                              v4("eth2", "00000000", "02020202", "0002", "2") +  // down
                              v4("lo", "00000000", "00000000", "0001", "3") +
                              v4("tun0", "00000000", "00000000", "0001", "50"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->interface, "tun0");
    EXPECT_EQ(r->gateway, "") << "no gateway";
    r = parseIPv4DefaultRoute(v4("eth0", "00000000", "0120372D", "0001", "0"), std::endian::little);
    EXPECT_EQ(r->gateway, "45.55.32.1") << "a gateway even without the gateway flag";
    r = parseIPv4DefaultRoute(v4("eth0", "00000000", "2D372001", "0001", "0"), std::endian::big);
    EXPECT_EQ(r->gateway, "45.55.32.1") << "as a big-endian kernel prints it";

    r = parseIPv6DefaultRoute(
        v6(zero6, "60", zero6, "00000400", "00200200", "lo") +
        v6(zero6, "00", "fe800000000000000000000000000001", "00000400", "00000003", "wlan0") +
        v6(zero6, "00", "20010001000000000000000000000001", "00000064", "00000003", "eth3") +
        v6("20010002000000000000000000000000", "40", zero6, "00000001", "00000001", "eth9"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->interface, "eth3");
    EXPECT_EQ(r->gateway, "2001:1::1");
}

TEST(DataUsageOnFake, FirstEntryWinsAndEveryFailureIsZero) {
    test::FakePlatform platform;
    platform.counters("lo", 1, 1);
    platform.counters("eth0", 100, 200);
    platform.interfaces.emplace_back("eth0", 999, 999);
    EXPECT_EQ(get_data_usage("eth0"), (data_usage{200, 100})) << "upload is what was sent";
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(get_data_usage("wlan9"), (data_usage{0, 0}));
    EXPECT_EQ(platform.interfaceListWalks, 1) << "an unknown name reads no list";
    platform.indices["ghost"] = 7;  // an index, but no entry in the list
    EXPECT_EQ(get_data_usage("ghost"), (data_usage{0, 0}));
    platform.interfaceListFails = true;
    EXPECT_EQ(get_data_usage("eth0"), (data_usage{0, 0}));
    platform.interfaceListThrows = true;
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
    LinuxPlatform linux(dir.roots());
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
    platform.store[kGlobalIPv4StateKey] = PropertyValue(std::string("not a dictionary"));
    std::tie(v4, v6) = Device::shared().globalNetworkState();
    EXPECT_EQ(v4, GlobalNetworkState{});
}

class NetworkRow : public test::PanelTest {
  protected:
    using Labels = std::pair<std::string, std::string>;
    void primary(const char* key, const char* name) {
        platform.route(key, {{"PrimaryInterface", std::string(name)}});
    }
    Labels tickLabels(double seconds = 1.0) {
        tick(seconds);
        return {text("downloadLabel"), text("uploadLabel")};
    }
};

TEST_F(NetworkRow, DiscoveryPrefersIPv6AndWithoutAnyShowsDashesReadingNothing) {
    platform.counters("eth0", 1, 1);
    update();
    EXPECT_EQ(tickLabels(), (Labels{"--", "--"}));
    EXPECT_EQ(platform.interfaceListWalks, 0);
    primary(kGlobalIPv4StateKey, "eth0");
    update();
    EXPECT_EQ(controller->measuredInterface(), "eth0");
    primary(kGlobalIPv6StateKey, "wlan0");
    update();
    EXPECT_EQ(controller->measuredInterface(), "wlan0");
}

TEST_F(NetworkRow, FirstTickIsZeroThenDifferencesAndRestartsShowZero) {
    primary(kGlobalIPv4StateKey, "eth0");
    platform.counters("eth0", 5'000'000, 7'000'000);
    update();
    EXPECT_EQ(tickLabels(), (Labels{"0 B/s", "0 B/s"})) << "traffic before the first sample";
    platform.counters("eth0", 5'000'000 + 2048, 7'000'000 + 512);
    EXPECT_EQ(tickLabels(), (Labels{"2.0 KB/s", "512 B/s"})) << "download is received, upload sent";
    platform.counters("eth0", 100, 7'000'600);
    EXPECT_EQ(tickLabels(), (Labels{"0 B/s", "0 B/s"})) << "counters restarted: a new baseline";
    platform.counters("eth0", 1124, 7'001'100);
    EXPECT_EQ(tickLabels(), (Labels{"1.0 KB/s", "500 B/s"}));
}

TEST_F(NetworkRow, RediscoveryThatFindsNothingKeepsTheBaseline) {
    primary(kGlobalIPv4StateKey, "eth0");
    platform.counters("eth0", 1000, 1000);
    update();
    tickLabels();
    platform.store.clear();
    update();
    platform.counters("eth0", 1000 + 3000, 1000);
    EXPECT_EQ(tickLabels(), (Labels{"--", "--"}));
    primary(kGlobalIPv4StateKey, "eth0");
    update();
    // The next tick compares with the sample two ticks old, spread over both seconds.
    EXPECT_EQ(tickLabels(), (Labels{"1.5 KB/s", "0 B/s"}));
}

TEST_F(NetworkRow, AnotherInterfaceOrAFailedReadIsNeverARate) {
    primary(kGlobalIPv4StateKey, "wg0");
    platform.counters("wg0", 1000, 1000);
    platform.counters("eth0", 900'000'000, 50'000'000);
    update();
    tickLabels();
    platform.counters("wg0", 1000 + 2048, 1000);
    EXPECT_EQ(tickLabels(), (Labels{"2.0 KB/s", "0 B/s"}));
    primary(kGlobalIPv4StateKey, "eth0");  // the VPN went down
    controller->networkConfigurationDidChange();
    EXPECT_EQ(tickLabels(), (Labels{"0 B/s", "0 B/s"})) << "not the two interfaces' difference";
    platform.interfaceListFails = true;
    EXPECT_EQ(tickLabels(), (Labels{"0 B/s", "0 B/s"}));
    platform.interfaceListFails = false;
    platform.counters("eth0", 900'000'000 + 4096, 50'000'000);
    EXPECT_EQ(tickLabels(), (Labels{"2.0 KB/s", "0 B/s"}))
        << "a failed read is no baseline: the difference spans both seconds";
}

TEST_F(NetworkRow, DifferencesAreScaledToTheSecondsTheSamplesWereApart) {
    setting("RefreshRate", 2);
    primary(kGlobalIPv4StateKey, "eth0");
    platform.counters("eth0", 1000, 1000);
    update();
    tickLabels(2.0);
    platform.counters("eth0", 1000 + 4096, 1000 + 1600);
    EXPECT_EQ(tickLabels(2.0), (Labels{"2.0 KB/s", "800 B/s"}));
    // Stopped for 4 s (Ctrl-Z, a debugger, a late timer): the tick due 2 s after the last
    // sample comes on waking, 4 s after it.
    loop.stall(4.0);
    platform.counters("eth0", 1000 + 4096 + 4 * 1024, 1000 + 1600);
    EXPECT_EQ(tickLabels(0.0), (Labels{"1.0 KB/s", "0 B/s"}));
}

}  // namespace
