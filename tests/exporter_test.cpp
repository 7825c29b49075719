// The exporter as Prometheus and the people checking it meet it: promtool, HTTP, the
// figures beside node_exporter's, df's and meminfo's, a real Prometheus scraping it, and
// clients that connect and never finish. The servers run in a network namespace of the
// test's own, listening on its loopback, and are stopped by the test.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "Exposition.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "support/Child.hpp"
#include "support/Require.hpp"
#include "support/Run.hpp"
#include "support/Sandbox.hpp"
#include "support/TempDir.hpp"

using namespace quillo;
using namespace std::chrono_literals;
using Metrics = std::map<std::string, double>;

namespace {

TEST(Exposition, LeavesOutWhatCannotBeReadAndEscapesLabels) {
    Sample s;
    s.cpu.times = CpuTimes{100, 0, 50, 800, 50, 0, 0, 0};
    s.cpu.usedRatio = cpuUsedRatio({50, 0, 25, 400, 25, 0, 0, 0}, *s.cpu.times);
    s.cpu.cores.push_back({3, *s.cpu.times, {}});
    Sample::Battery& battery = s.batteries.emplace_back();
    battery.name = "BAT\"0\\\n";
    battery.chargePercent = 30;
    battery.chargeRatio = 0.3;
    // Interface names in other encodings than UTF-8 stay three label sets, not one.
    for (const char* name : {"eth\xff", "eth\xfe", "eth\xef\xbf\xbd"})
        s.interfaces.push_back({name, 1, 2, {}, {}, {}, {}, {}, {}});
    const std::string text = cli::exposition(s, cli::ExpositionFormat::text);

    EXPECT_NE(text.find("quillo_cpu_usage_ratio 0.15\n"), std::string::npos) << text;
    EXPECT_NE(text.find("quillo_cpu_seconds_total{cpu=\"3\",mode=\"idle\"} "), std::string::npos);
    EXPECT_NE(text.find("quillo_battery_charge_ratio{battery=\"BAT\\\"0\\\\\\n\"} 0.3\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("quillo_level{row=\"battery\"} 0\n"), std::string::npos);
    for (const char* label : {"{interface=\"eth\\\\xff\"} 1\n", "{interface=\"eth\\\\xfe\"} 1\n",
                              "{interface=\"eth\xef\xbf\xbd\"} 1\n"})
        EXPECT_NE(text.find(std::string("quillo_network_receive_bytes_total") + label),
                  std::string::npos)
            << label;
    for (const char* absent : {"quillo_memory", "quillo_disk", "quillo_load1", "quillo_cpus",
                               "quillo_battery_temperature", "quillo_thermal", "NaN", "# EOF"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
    EXPECT_EQ(cpuUsedRatio(*s.cpu.times, *s.cpu.times), std::nullopt) << "no time passed";

    const std::string open = cli::exposition(s, cli::ExpositionFormat::openMetrics);
    EXPECT_NE(open.find("# TYPE quillo_cpu_seconds counter\n"), std::string::npos);
    EXPECT_TRUE(open.ends_with("# EOF\n"));
}

TEST(Exposition, NegotiatesTheFormatPrometheusAsksFor) {
    EXPECT_EQ(cli::negotiate(nullptr), cli::ExpositionFormat::text);
    EXPECT_EQ(cli::negotiate("text/plain;version=0.0.4;q=0.5,*/*;q=0.1"),
              cli::ExpositionFormat::text);
    EXPECT_EQ(
        cli::negotiate("application/openmetrics-text;version=1.0.0,application/"
                       "openmetrics-text;version=0.0.1;q=0.75,text/plain;version=0.0.4;q=0.5"),
        cli::ExpositionFormat::openMetrics);
    for (const auto& [accept, format] :
         {std::pair{"application/openmetrics-text;q=0, text/plain", cli::ExpositionFormat::text},
          {"text/plain;q=0.5, application/openmetrics-text;q=0.4", cli::ExpositionFormat::text},
          {"Application/OpenMetrics-Text; Q=0.9, */*;q=0.1", cli::ExpositionFormat::openMetrics},
          {"*/*", cli::ExpositionFormat::text}})
        EXPECT_EQ(cli::negotiate(accept), format) << accept;
}

// More interfaces than are kept: the bound holds, but the default route's interface,
// past it, still has its counters.
TEST(Sample, PrimaryInterfaceKeepsItsCountersPastTheBound) {
    test::TempDir dir;
    std::string dev = "Inter-|   Receive\n face |bytes\n";
    for (int i = 0; i < 5000; ++i)
        dev +=
            "v" + std::to_string(i) + ": " + std::to_string(i) + " 0 0 0 0 0 0 0 7 0 0 0 0 0 0 0\n";
    dir.write("proc/net/dev", dev);
    dir.write("proc/net/route",
              "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n"
              "v4999\t00000000\t0100000A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    LinuxPlatform tree(dir.roots());
    const Sample s = Sampler(tree).take();
    EXPECT_EQ(s.interfaces.size(), Sample::maximumInterfaces + 1);
    ASSERT_EQ(s.interfaces.back().name, "v4999");
    EXPECT_EQ(s.interfaces.back().received, 4999u);
}

// This process and its children in network and mount namespaces of their own: only
// loopback and a pair of virtual interfaces, one carrying both default routes, so the
// fixed ports are free and every packet stays here.
const std::string& sandboxProblem() {
    static const std::string why = [] {
        if (std::string problem = test::enterNetworkNamespace(true); !problem.empty())
            return problem;
        const test::RunResult ip = test::ipBatch(
            "link add up0 type veth peer name up1\naddr add 10.77.0.2/24 dev up0\n"
            "addr add fd77::2/64 dev up0 nodad\nlink set up0 up\nlink set up1 up\n"
            "route add default via 10.77.0.1 dev up0\nroute add default via fd77::1 dev up0\n");
        return ip.status == 0 ? std::string() : "cannot make virtual interfaces: " + ip.err;
    }();
    return why;
}

using Server = test::Daemon;

constexpr const char* quilloUrl = "http://127.0.0.1:9089/metrics";
constexpr const char* nodeUrl = "http://127.0.0.1:9100/metrics";

Server quillo() {
    return Server(QUILLO_BIN "/quillo serve", quilloUrl);
}

Metrics scrape(const std::string& url) {
    Metrics m;
    std::istringstream lines(test::run("curl -sf " + url).out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto space = line.rfind(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos) continue;
        m[line.substr(0, space)] = std::strtod(line.c_str() + space + 1, nullptr);
    }
    return m;
}

// The sum of a family's samples whose labels include every one given.
double sum(const Metrics& m, const std::string& name,
           std::initializer_list<std::string> labels = {}) {
    double total = 0;
    for (const auto& [key, value] : m) {
        if (key != name && !key.starts_with(name + "{")) continue;
        bool all = true;
        for (const std::string& l : labels) all = all && key.find(l) != std::string::npos;
        if (all) total += value;
    }
    return total;
}

// A sample's name and labels in node_exporter's terms, labels in sorted order.
std::string asNode(const std::string& key) {
    static const std::pair<std::string, std::string> names[] = {
        {"quillo_cpu_seconds_total", "node_cpu_seconds_total"},
        {"quillo_swap_total_bytes", "node_memory_SwapTotal_bytes"},
        {"quillo_swap_in_pages_total", "node_vmstat_pswpin"},
        {"quillo_swap_out_pages_total", "node_vmstat_pswpout"},
        {"quillo_network_receive_bytes_total", "node_network_receive_bytes_total"},
        {"quillo_network_transmit_bytes_total", "node_network_transmit_bytes_total"},
        {"quillo_memory_total_bytes", "node_memory_MemTotal_bytes"},
        {"quillo_boot_time_seconds", "node_boot_time_seconds"},
        {"quillo_load1", "node_load1"},
        {"quillo_disk_read_bytes_total", "node_disk_read_bytes_total"},
        {"quillo_disk_written_bytes_total", "node_disk_written_bytes_total"},
        {"quillo_disk_io_seconds_total", "node_disk_io_time_seconds_total"},
        {"quillo_pressure_waiting_seconds_total", "node_pressure_"},
        {"quillo_filesystem_size_bytes", "node_filesystem_size_bytes"},
        {"quillo_filesystem_avail_bytes", "node_filesystem_avail_bytes"},
        {"quillo_filesystem_free_bytes", "node_filesystem_free_bytes"},
        {"quillo_hwmon_temp_celsius", "node_hwmon_temp_celsius"},
        {"quillo_hwmon_fan_rpm", "node_hwmon_fan_rpm"},
        {"quillo_power_supply_power_watts", "node_power_supply_power_watt"},
        {"quillo_network_receive_errors_total", "node_network_receive_errs_total"},
        {"quillo_network_transmit_errors_total", "node_network_transmit_errs_total"},
        {"quillo_network_receive_drop_total", "node_network_receive_drop_total"},
        {"quillo_network_transmit_drop_total", "node_network_transmit_drop_total"}};
    const std::string family = key.substr(0, key.find('{'));
    const auto name = std::find_if(std::begin(names), std::end(names),
                                   [&](const auto& n) { return n.first == family; });
    if (name == std::end(names)) return {};
    std::map<std::string, std::string> labels;
    std::istringstream list(key.size() > family.size()
                                ? key.substr(family.size() + 1, key.size() - family.size() - 2)
                                : "");
    for (std::string label; std::getline(list, label, ',');) {
        std::string label_name = label.substr(0, label.find('='));
        if (label_name == "interface") label_name = "device";
        if (label_name == "supply") label_name = "power_supply";
        labels[label_name] = label.substr(label.find('=') + 1);
    }
    std::string node = name->second;
    if (node == "node_pressure_") {  // one family per resource and kind there
        const auto bare = [](const std::string& v) { return v.substr(1, v.size() - 2); };
        return node + bare(labels["resource"]) +
               (labels["kind"] == "\"some\"" ? "_waiting" : "_stalled") + "_seconds_total";
    }
    for (const auto& [label, value] : labels)
        node += (node.find('{') == std::string::npos ? "{" : ",") + label + "=" + value;
    return labels.empty() ? node : node + "}";
}

class ExporterTest : public ::testing::Test {
  protected:
    void SetUp() override { QUILLO_REQUIRE(sandboxProblem().empty(), sandboxProblem()); }
};

TEST_F(ExporterTest, MetricsCommandPassesPromtool) {
    const test::RunResult r =
        test::run(QUILLO_BIN "/quillo metrics --interval 0.1 | promtool check metrics");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
}

// Each figure beside node_exporter's at the same moment: a counter lies between two of
// node_exporter's scrapes, a gauge equals one of them.
TEST_F(ExporterTest, FiguresAgreeWithNodeExporterDfAndMeminfo) {
    Server server = quillo();
    Server node(
        "prometheus-node-exporter --web.listen-address=127.0.0.1:9100 "
        "--collector.disable-defaults --collector.cpu --collector.meminfo "
        "--collector.loadavg --collector.netdev --collector.filesystem --collector.stat "
        "--collector.powersupplyclass --collector.thermal_zone --collector.vmstat "
        "--collector.pressure --collector.diskstats",
        nodeUrl);
    ASSERT_TRUE(server.ready() && node.ready());
    // Bytes out of up0: the address of 10.77.0.9 asked for, a datagram queued for it.
    test::sendUdp(0x0a4d0009, 1);
    std::this_thread::sleep_for(100ms);

    const Metrics n1 = scrape(nodeUrl);
    const Metrics q = scrape(quilloUrl);
    const Metrics n2 = scrape(nodeUrl);
    const auto between = [&](const std::string& ours, double a, double b, double slack = 0) {
        EXPECT_GE(sum(q, ours) + slack, std::min(a, b)) << ours;
        EXPECT_LE(sum(q, ours) - slack, std::max(a, b)) << ours;
    };
    EXPECT_EQ(q.at("quillo_memory_total_bytes"), n1.at("node_memory_MemTotal_bytes"));
    EXPECT_EQ(q.at("quillo_boot_time_seconds"), n1.at("node_boot_time_seconds"));
    for (const char* load : {"load1", "load5", "load15"}) {
        const double ours = q.at(std::string("quillo_") + load);
        EXPECT_TRUE(ours == n1.at(std::string("node_") + load) ||
                    ours == n2.at(std::string("node_") + load))
            << load;
    }
    std::size_t cpuSamples = 0;
    for (const auto& [key, value] : q) {
        if (!key.starts_with("quillo_cpu_seconds_total{")) continue;
        ++cpuSamples;
        const std::string node = "node" + key.substr(6);
        // A tick-based idle may step back by a tick; iowait is no counter at all.
        if (key.find("\"iowait\"") == std::string::npos)
            between(key, n1.at(node), n2.at(node),
                    key.find("\"idle\"") != std::string::npos ? 0.011 : 0);
    }
    EXPECT_EQ(cpuSamples, 8 * q.at("quillo_cpus{kind=\"logical\"}"));
    // Disks, interfaces' errors and drops, and the time tasks waited: the same counters as
    // node_exporter's, by name.
    std::size_t counters = 0;
    for (const auto& [key, value] : q) {
        const std::string node = asNode(key);
        if (node.empty() || !n1.count(node) || key.starts_with("quillo_cpu_seconds")) continue;
        if (key.starts_with("quillo_disk_") || key.starts_with("quillo_pressure_") ||
            key.starts_with("quillo_network_")) {
            between(key, n1.at(node), n2.at(node));
            ++counters;
        }
    }
    EXPECT_GE(counters, 3u + 3 * (std::ifstream("/proc/pressure/cpu") ? 1 : 0));

    // Every file system df lists, and node_exporter's figures for those it shows too.
    std::set<std::string> ours, dfs;
    for (const auto& [key, value] : q) {
        if (!key.starts_with("quillo_filesystem_stale{")) continue;
        ours.insert(key.substr(key.find('"') + 1, key.rfind('"') - key.find('"') - 1));
        EXPECT_EQ(value, 0) << key;
    }
    std::istringstream targets(test::run("df --output=target | tail -n +2").out);
    for (std::string line; std::getline(targets, line);) dfs.insert(line);
    EXPECT_EQ(ours, dfs);
    std::size_t fileSystems = 0;
    for (const auto& [key, value] : q) {
        const std::string node = asNode(key);
        if (!key.starts_with("quillo_filesystem_") || node.empty() || !n1.count(node)) continue;
        ++fileSystems;
        if (key.starts_with("quillo_filesystem_size")) {
            EXPECT_EQ(value, n1.at(node)) << key;
        } else {
            between(key, n1.at(node), n2.at(node), 64 << 20);  // other tests write meanwhile
        }
    }
    EXPECT_GE(fileSystems, 3u) << "at least / compared";
    for (const char* way : {"receive", "transmit"}) {
        const std::string name = std::string("_network_") + way + "_bytes_total";
        between("quillo" + name + "{interface=\"up0\"}", sum(n1, "node" + name, {"device=\"up0\""}),
                sum(n2, "node" + name, {"device=\"up0\""}));
    }
    EXPECT_GT(sum(q, "quillo_network_transmit_bytes_total", {"up0"}), 0);
    EXPECT_EQ(
        q.count(
            "quillo_network_primary_info{family=\"ipv4\",interface=\"up0\",router=\"10.77.0.1\"}"),
        1u);
    EXPECT_EQ(
        q.count(
            "quillo_network_primary_info{family=\"ipv6\",interface=\"up0\",router=\"fd77::1\"}"),
        1u);

    EXPECT_EQ(q.at("quillo_swap_total_bytes"), n1.at("node_memory_SwapTotal_bytes"));
    between("quillo_swap_used_bytes",
            n1.at("node_memory_SwapTotal_bytes") - n1.at("node_memory_SwapFree_bytes"),
            n2.at("node_memory_SwapTotal_bytes") - n2.at("node_memory_SwapFree_bytes"));
    between("quillo_swap_in_pages_total", n1.at("node_vmstat_pswpin"), n2.at("node_vmstat_pswpin"));
    between("quillo_swap_out_pages_total", n1.at("node_vmstat_pswpout"),
            n2.at("node_vmstat_pswpout"));

    // Memory: free and inactive are MemAvailable, within what others allocate meanwhile.
    const double available = sum(q, "quillo_memory_bytes", {"\"free\""}) +
                             sum(q, "quillo_memory_bytes", {"\"inactive\""});
    EXPECT_NEAR(available, n1.at("node_memory_MemAvailable_bytes"),
                std::fabs(n2.at("node_memory_MemAvailable_bytes") -
                          n1.at("node_memory_MemAvailable_bytes")) +
                    (8 << 20));
    EXPECT_NEAR(q.at("quillo_memory_used_ratio"), 1 - available / q.at("quillo_memory_total_bytes"),
                1e-9);

    const test::RunResult df = test::run("df -B1 --output=size,used,avail / | tail -n 1");
    double size = 0, used = 0, avail = 0;
    ASSERT_EQ(std::sscanf(df.out.c_str(), "%lf %lf %lf", &size, &used, &avail), 3);
    const std::string root = "{mountpoint=\"/\"}";
    EXPECT_EQ(q.at("quillo_disk_size_bytes" + root), size);
    EXPECT_EQ(q.at("quillo_disk_size_bytes" + root),
              sum(n1, "node_filesystem_size_bytes", {"mountpoint=\"/\""}));
    EXPECT_NEAR(q.at("quillo_disk_avail_bytes" + root), avail, 64 << 20);
    EXPECT_NEAR(q.at("quillo_disk_used_ratio" + root), used / (used + avail), 0.001);

    const int ps = std::stoi(test::run("ps -e --no-headers | wc -l").out);
    EXPECT_NEAR(q.at("quillo_processes"), ps, 16) << "processes come and go meanwhile";
}

// The ratio is the exporter's own, over its last full second: every scraper gets it, at
// any moment after the first second, however many others asked just before.
// On every fixture tree, each sample node_exporter also gives from the same files has
// its value: names and labels map one to one.
class TreeTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { QUILLO_REQUIRE(sandboxProblem().empty(), sandboxProblem()); }
};

TEST_P(TreeTest, FiguresAgreeWithNodeExporterOnTheSameFiles) {
    const std::filesystem::path tree =
        std::filesystem::path(QUILLO_FIXTURES) / "linux" / GetParam();
    const std::string roots = " --procfs " + test::quoted((tree / "proc").string()) + " --sysfs " +
                              test::quoted((tree / "sys").string());
    Server node(
        "prometheus-node-exporter --web.listen-address=127.0.0.1:9100"
        " --collector.disable-defaults --collector.cpu --collector.meminfo"
        " --collector.vmstat --collector.stat --collector.loadavg --collector.netdev"
        " --collector.pressure --collector.diskstats --collector.hwmon --collector.powersupplyclass"
        " --path.procfs=" +
            test::quoted((tree / "proc").string()) +
            " --path.sysfs=" + test::quoted((tree / "sys").string()),
        nodeUrl);
    ASSERT_TRUE(node.ready());
    const Metrics theirs = scrape(nodeUrl);
    Metrics ours;
    std::istringstream lines(test::run(QUILLO_BIN "/quillo" + roots + " metrics --interval 0").out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("#"))
            ours[line.substr(0, line.rfind(' '))] = std::stod(line.substr(line.rfind(' ') + 1));
    }
    ASSERT_FALSE(ours.empty());
    std::size_t compared = 0;
    for (const auto& [key, value] : ours) {
        const std::string node = asNode(key);
        if (const auto it = theirs.find(node); !node.empty() && it != theirs.end()) {
            EXPECT_DOUBLE_EQ(value, it->second) << key << " vs " << node;
            ++compared;
        }
    }
    // The damaged tree is the one where node_exporter gives up on every file.
    if (GetParam() != "malformed") {
        EXPECT_GT(compared, 0u);
    }
}

std::vector<std::string> treeNames() {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(QUILLO_FIXTURES) / "linux"))
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Trees, TreeTest, ::testing::ValuesIn(treeNames()), [](const auto& info) {
    std::string name = info.param;
    std::erase(name, '-');
    return name;
});

TEST_F(ExporterTest, CpuRatioIsTheLastSecondsForEveryScraper) {
    Server server = quillo();
    ASSERT_TRUE(server.ready());
    const auto spinner = test::Child::spinning();
    std::this_thread::sleep_for(2200ms);  // the last full second lies within the spin
    const Metrics first = scrape(quilloUrl), second = scrape(quilloUrl);
    ASSERT_TRUE(first.count("quillo_cpu_usage_ratio") && second.count("quillo_cpu_usage_ratio"))
        << "a scrape right after another has the ratio too";
    EXPECT_GE(first.at("quillo_cpu_usage_ratio"), 0.9 / first.at("quillo_cpus{kind=\"logical\"}"))
        << "one core busy throughout";
}

TEST_F(ExporterTest, PrometheusScrapesEveryFigure) {
    test::TempDir dir;
    std::ofstream(dir.path() / "prometheus.yml")
        << "global: {scrape_interval: 1s}\nscrape_configs:\n  - job_name: quillo\n"
           "    static_configs: [{targets: ['127.0.0.1:9089']}]\n";
    Server server = quillo();
    Server prometheus("prometheus --config.file=" + (dir.path() / "prometheus.yml").string() +
                          " --storage.tsdb.path=" + (dir.path() / "data").string() +
                          " --web.listen-address=127.0.0.1:9090",
                      "http://127.0.0.1:9090/-/ready");
    ASSERT_TRUE(server.ready() && prometheus.ready());
    const auto query = [](const std::string& q) {
        const auto r = test::run("curl -sf --get --data-urlencode " + test::quoted("query=" + q) +
                                 " http://127.0.0.1:9090/api/v1/query");
        return nlohmann::json::parse(r.out.empty() ? "{}" : r.out)
            .value("data", nlohmann::json::object())
            .value("result", nlohmann::json::array());
    };
    nlohmann::json up;
    for (int i = 0; i < 60 && (up.empty() || up[0]["value"][1] != "1"); ++i) {
        std::this_thread::sleep_for(500ms);
        up = query("up{job=\"quillo\"}");
    }
    ASSERT_FALSE(up.empty());
    EXPECT_EQ(up[0]["value"][1], "1");

    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    double kilobytes = 0;
    meminfo >> key >> kilobytes;
    const auto total = query("quillo_memory_total_bytes");
    ASSERT_FALSE(total.empty());
    EXPECT_EQ(std::stod(total[0]["value"][1].get<std::string>()), kilobytes * 1024);

    for (int i = 0; i < 10 && query("quillo_cpu_usage_ratio").empty(); ++i)
        std::this_thread::sleep_for(500ms);
    std::set<std::string> stored, exported;
    for (const auto& r : query("count by (__name__) ({__name__=~\"quillo_.+\"})"))
        stored.insert(r["metric"]["__name__"].get<std::string>());
    for (const auto& [sample, value] : scrape(quilloUrl))
        exported.insert(sample.substr(0, sample.find('{')));
    EXPECT_GE(exported.size(), 20u);
    EXPECT_EQ(stored, exported) << "every family the exporter writes is stored";
}

// A connection to the port on 127.0.0.1, from the loopback address source.
int connectTo(int port, const char* source = "127.0.0.1") {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        ::close(fd);
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True once the server has closed the connection; what it said before goes to said.
bool closedByServer(int fd, std::string* said = nullptr) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0 && said) said->append(buffer, std::size_t(n));
        if (n <= 0) return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
}

// The answer to a request written by hand, as far as the server sends it in a second.
std::string answerTo(const std::string& request) {
    const int fd = connectTo(9089);
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    for (int i = 0; i < 50 && !closedByServer(fd, &answer); ++i) std::this_thread::sleep_for(20ms);
    ::close(fd);
    return answer;
}

TEST_F(ExporterTest, ListensOnLoopbackAnswersByMethodPathAndAcceptAndStopsCleanly) {
    Server server = quillo();
    ASSERT_TRUE(server.ready());
    const std::string get = "GET /metrics HTTP/1.1\r\nHost: q\r\nConnection: close\r\n";
    const std::pair<std::string, const char*> cases[] = {
        {get + "\r\n", "200 OK|Content-Type: text/plain; version=0.0.4; charset=utf-8"},
        {get + "Accept: application/openmetrics-text;version=1.0.0,text/plain;q=0.5\r\n\r\n",
         "200 OK|application/openmetrics-text; version=1.0.0; charset=utf-8"},
        {"HEAD /metrics HTTP/1.0\r\n\r\n", "200 OK|text/plain; version=0.0.4"},
        {"POST /metrics HTTP/1.0\r\nContent-Length: 1\r\n\r\nx", "405|Allow: GET, HEAD"},
        {"DELETE / HTTP/1.0\r\n\r\n", "405|Allow: GET, HEAD"},
        {"GET / HTTP/1.0\r\n\r\n", "200 OK|<a href=\"/metrics\">"},
        {"GET /metrics/ HTTP/1.0\r\n\r\n", "404|Not found"},
        {"GET /metrics HTTP/1.1\r\n\r\n", "400|"},  // no Host
        {"GET /metrics HTTP/1.0\r\n\r\n", "200 OK|quillo_build_info{version="},
        {get + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab", "400|"},
        {get + "Content-Length: 1, 2\r\n\r\nab", "400|"},
        {get + "Content-Length: 0\r\n\r\n", "200 OK|"}};
    for (const auto& [request, expected] : cases) {
        const std::string answer = answerTo(request), want = expected;
        const auto bar = want.find('|');
        EXPECT_EQ(answer.substr(9, bar), want.substr(0, bar)) << request << answer;
        EXPECT_NE(answer.find(want.substr(bar + 1)), std::string::npos) << request << answer;
    }
    const test::RunResult ss = test::run("ss -Hltn sport = :9089 | awk '{ print $4 }' | sort");
    EXPECT_EQ(ss.out, "127.0.0.1:9089\n[::1]:9089\n") << "on loopback only";
    EXPECT_EQ(server.stop(), 0) << "SIGTERM ends the exporter cleanly";
    // :PORT and localhost:PORT as node_exporter takes them, in both families.
    for (const auto& [listen, sockets] : {std::pair{":9189", "0.0.0.0:9189\n[::]:9189\n"},
                                          {"localhost:9190", "127.0.0.1:9190\n[::1]:9190\n"}}) {
        const std::string port = std::string(listen).substr(std::string(listen).rfind(':') + 1);
        Server named(QUILLO_BIN "/quillo serve --listen " + std::string(listen),
                     "http://127.0.0.1:" + port + "/metrics");
        ASSERT_TRUE(named.ready()) << listen;
        EXPECT_EQ(test::run("ss -Hltn sport = :" + port + " | awk '{ print $4 }' | sort").out,
                  sockets);
    }
}

TEST_F(ExporterTest, IdleSlowAndOversizedClientsDoNotStopAScrape) {
    Server server = quillo();
    ASSERT_TRUE(server.ready());
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
    ::setrlimit(RLIMIT_NOFILE, &files);
    // Two thousand idle connections from one address, the scraper at another.
    std::vector<int> idle(2000);
    for (int& fd : idle) fd = connectTo(9089, "127.0.0.2");
    std::erase(idle, -1);

    const int big = connectTo(9089);
    const int slow = connectTo(9089);
    std::thread bigSender([big] {
        const std::string request = "GET /metrics HTTP/1.1\r\nX-Big: " + std::string(1 << 20, 'a');
        [[maybe_unused]] auto n = ::send(big, request.data(), request.size(), MSG_NOSIGNAL);
    });
    std::thread slowSender([slow] {  // a byte every 200 ms, for at most 15 s
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: slow\r\n";
        for (std::size_t i = 0; i < 75 && !closedByServer(slow); ++i) {
            ::send(slow, &request[i % request.size()], 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(200ms);
        }
    });
    const test::RunResult scrapeNow =
        test::run("curl -sf --max-time 2 -o /dev/null -w '%{http_code}' " + std::string(quilloUrl));
    EXPECT_EQ(scrapeNow.out, "200") << "a scrape is answered beside clients that never finish";

    // Every one of them is shut out in time, the idle ones and the slow one after 10 s.
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    std::size_t open = idle.size();
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        open = std::size_t(
            std::count_if(idle.begin(), idle.end(), [](int fd) { return !closedByServer(fd); }));
        std::this_thread::sleep_for(200ms);
    }
    slowSender.join();
    bigSender.join();
    EXPECT_EQ(open, 0u) << "idle connections outlived their timeout";
    EXPECT_TRUE(closedByServer(slow));
    std::string refusal;
    EXPECT_TRUE(closedByServer(big, &refusal));
    EXPECT_TRUE(refusal.empty() || refusal.starts_with("HTTP/1.1 4")) << refusal;
    for (const int fd : idle) ::close(fd);
    ::close(big);
    ::close(slow);
}

}  // namespace

// The Grafana dashboard: valid JSON whose every query is PromQL that promtool accepts,
// asks for the chosen instance, and names only families the exporter serves (on the
// fixture trees and here).
// A certificate authority, a server certificate for 127.0.0.1 and a client certificate
// it signed, and one it did not, made with openssl in dir.
void makeCertificates(const std::filesystem::path& dir) {
    const std::string d = dir.string() + "/";
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 ";
    std::ofstream(d + "san.ext") << "subjectAltName=IP:127.0.0.1\n";
    const test::RunResult made = test::run(
        "set -e; cd " + d + "; openssl req -x509 " + key +
        "-subj /CN=ca -keyout ca.key -out ca.crt;" + "for who in server client; do openssl req " +
        key +
        "-subj /CN=127.0.0.1 -keyout $who.key -out $who.csr; openssl x509 -req -in $who.csr "
        "-CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext -out $who.crt; done;"
        "openssl req -x509 " +
        key + "-subj /CN=stranger -keyout stranger.key -out stranger.crt");
    ASSERT_EQ(made.status, 0) << made.err;
}

// curl's status code for url with the arguments given, "000" when no HTTP came back.
std::string statusOf(const std::string& arguments,
                     const std::string& url = "https://127.0.0.1:9089/metrics") {
    return test::run("curl -s -o /dev/null -w '%{http_code}' " + arguments + " " + url).out;
}

TEST_F(ExporterTest, WebConfigServesTlsAndBasicAuthToPrometheus) {
    QUILLO_REQUIRE(test::run("command -v openssl").status == 0, "openssl is not installed");
    test::TempDir dir;
    makeCertificates(dir.path());
    // "secret", at bcrypt's cost 5
    std::ofstream(dir.path() / "web.yml")
        << "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
           "basic_auth_users:\n  scraper: "
           "$2b$05$abcdefghijklmnopqrstuuOQiyCxlgf/oeuTqixKmWdcYUh4Hjl0a\n";
    const std::string tls = "--cacert " + (dir.path() / "ca.crt").string();
    Server server(QUILLO_BIN "/quillo serve --web-config " + (dir.path() / "web.yml").string(),
                  tls + " -u scraper:secret https://127.0.0.1:9089/metrics");
    ASSERT_TRUE(server.ready());
    EXPECT_EQ(statusOf(tls + " -u scraper:wrong"), "401");
    EXPECT_EQ(statusOf(tls + " -u nobody:secret"), "401");
    EXPECT_EQ(statusOf(tls), "401");
    EXPECT_THAT(test::run("curl -s -D - -o /dev/null " + tls + " https://127.0.0.1:9089/").out,
                ::testing::HasSubstr("WWW-Authenticate: Basic realm=\"quillo\""));
    EXPECT_EQ(statusOf("-u scraper:secret", "http://127.0.0.1:9089/metrics"), "000")
        << "no plain HTTP on the TLS port";

    std::ofstream(dir.path() / "prometheus.yml")
        << "global: {scrape_interval: 1s}\nscrape_configs:\n  - job_name: quillo\n"
           "    scheme: https\n    tls_config: {ca_file: "
        << (dir.path() / "ca.crt").string()
        << "}\n    basic_auth: {username: scraper, password: secret}\n"
           "    static_configs: [{targets: ['127.0.0.1:9089']}]\n";
    Server prometheus("prometheus --config.file=" + (dir.path() / "prometheus.yml").string() +
                          " --storage.tsdb.path=" + (dir.path() / "data").string() +
                          " --web.listen-address=127.0.0.1:9090",
                      "http://127.0.0.1:9090/-/ready");
    ASSERT_TRUE(prometheus.ready());
    std::string up;
    for (int i = 0; i < 60 && up.find("\"1\"]") == std::string::npos; ++i) {
        std::this_thread::sleep_for(500ms);
        up = test::run("curl -s 'http://127.0.0.1:9090/api/v1/query?query=up'").out;
    }
    EXPECT_THAT(up, ::testing::HasSubstr("\"1\"]"))
        << "Prometheus scrapes over TLS with a password";
}

TEST_F(ExporterTest, WebConfigChecksClientCertificatesAndRefusesBadFiles) {
    QUILLO_REQUIRE(test::run("command -v openssl").status == 0, "openssl is not installed");
    test::TempDir dir;
    makeCertificates(dir.path());
    const std::string d = dir.path().string() + "/";
    std::ofstream(d + "web.yml") << "tls_server_config:\n  cert_file: server.crt\n  key_file: "
                                    "server.key\n  client_auth_type: RequireAndVerifyClientCert\n"
                                    "  client_ca_file: ca.crt\n";
    const std::string tls = "--cacert " + d + "ca.crt";
    Server server(QUILLO_BIN "/quillo serve --web-config " + d + "web.yml",
                  tls + " --cert " + d + "client.crt --key " + d + "client.key " +
                      "https://127.0.0.1:9089/metrics");
    ASSERT_TRUE(server.ready());
    EXPECT_EQ(statusOf(tls), "403") << "no certificate";
    EXPECT_EQ(statusOf(tls + " --cert " + d + "stranger.crt --key " + d + "stranger.key"), "403");
    server.stop();

    const std::pair<std::string, std::string> bad[] = {
        {"", "No such file or directory"},  // no file at all
        {"tls_server_config: [", "line 1: end of sequence flow not found"},
        {"tls_server_config:\n  cert_file: server.crt\n", "needs both cert_file and key_file"},
        {"tls_server_config:\n  cert_file: no.crt\n  key_file: server.key\n",
         "cert_file " + d + "no.crt: No such file"},
        {"tls_server_config:\n  cert_file: ca.key\n  key_file: server.key\n",
         "cert_file and key_file:"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n  cipher_suites: "
         "[]\n",
         "line 4: 'cipher_suites' in tls_server_config is not a setting quillo knows"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
         "  client_auth_type: RequireAndVerifyClientCert\n",
         "needs client_ca_file"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n  min_version: "
         "TLS9\n",
         "min_version is one of TLS10"},
        {"basic_auth_users:\n  scraper: secret\n",
         "line 2: the password of scraper is not a bcrypt hash"}};
    for (const auto& [text, said] : bad) {
        if (!text.empty()) std::ofstream(d + "bad.yml") << text;
        const test::RunResult r =
            test::run(QUILLO_BIN "/quillo serve --listen 127.0.0.1:0 --web-config " + d +
                      (text.empty() ? "none.yml" : "bad.yml"));
        EXPECT_EQ(r.status, 2) << text;
        EXPECT_THAT(r.err, ::testing::HasSubstr(said)) << text;
    }
}

TEST(GrafanaDashboard, QueriesOnlyWhatTheExporterServes) {
    const auto dashboard =
        nlohmann::json::parse(test::readFile(QUILLO_SOURCE "/contrib/grafana/quillo.json"));
    std::set<std::string> served;
    const auto collect = [&](const std::string& exposition) {
        std::istringstream lines(exposition);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("# TYPE ")) served.insert(line.substr(7, line.find(' ', 7) - 7));
        }
    };
    for (const auto& entry : std::filesystem::directory_iterator(QUILLO_SOURCE "/tests/golden")) {
        if (entry.path().string().ends_with(".metrics.txt")) collect(test::readFile(entry.path()));
    }
    // The rates, which the goldens' single sample lacks.
    collect(test::run(QUILLO_BIN "/quillo metrics --interval 0.2").out);
    std::vector<std::string> queries;
    const std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& j) {
        if (j.is_object() && j.contains("expr")) queries.push_back(j["expr"]);
        if (j.is_structured())
            for (const auto& child : j) walk(child);
    };
    walk(dashboard["panels"]);
    ASSERT_GE(queries.size(), 10u);
    const std::regex family("quillo_[a-z0-9_]+");
    std::string rules = "groups:\n- name: dashboard\n  rules:\n";
    for (std::size_t i = 0; i < queries.size(); ++i) {
        const std::string& q = queries[i];
        EXPECT_THAT(q, ::testing::HasSubstr("instance=\"$instance\"")) << q;
        for (std::sregex_iterator m(q.begin(), q.end(), family), end; m != end; ++m)
            EXPECT_TRUE(served.count(m->str())) << m->str() << " in " << q;
        std::string expr = std::regex_replace(q, std::regex("\\$__rate_interval"), "5m");
        expr = std::regex_replace(expr, std::regex("\\$instance"), "x");
        rules += "  - record: dashboard:q" + std::to_string(i) +
                 "\n    expr: " + nlohmann::json(expr).dump() + "\n";
    }
    EXPECT_TRUE(dashboard["templating"].dump().find("label_values(quillo_build_info, instance)") !=
                std::string::npos);
    const test::TempDir dir;
    const auto file = dir.write("dashboard-rules.yml", rules);
    const test::RunResult r = test::run("promtool check rules " + test::quoted(file.string()));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
}
