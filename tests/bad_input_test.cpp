#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <random>

#include "support/Run.hpp"

using namespace quillo::test;
using ::testing::HasSubstr;

namespace {

// Every file a command may read, relative to its root.
const char* const procFiles[] = {"stat",      "meminfo",        "loadavg",     "net/dev",
                                 "net/route", "net/ipv6_route", "self/cgroup", "1/stat",
                                 "1/status",  "1/exe",          "42/stat",     "42/status"};
const char* const sysFiles[] = {"devices/system/cpu/online",
                                "devices/system/cpu/possible",
                                "devices/system/cpu/cpu0/topology/core_id",
                                "devices/system/cpu/cpu0/cpufreq/scaling_max_freq",
                                "class/dmi/id/product_name",
                                "class/thermal/thermal_zone0/temp",
                                "class/thermal/thermal_zone0/trip_point_0_type",
                                "class/power_supply/BAT0/type",
                                "class/power_supply/BAT0/status",
                                "class/power_supply/BAT0/capacity",
                                "class/power_supply/BAT0/energy_now",
                                "class/power_supply/AC/online",
                                "class/net/eth0/ifindex"};

enum class Damage { empty, garbage, unreadable };

class BadRoots : public ::testing::TestWithParam<Damage> {
  protected:
    TempDir dir;
    std::string roots;

    void SetUp() override {
        std::mt19937 rng(7);
        const auto fill = [&](const std::string& path) {
            switch (GetParam()) {
                case Damage::empty:
                    break;
                case Damage::garbage: {
                    std::string bytes(1 + rng() % 600, '\0');
                    for (char& c : bytes) c = char(rng());
                    // Some lines that almost parse, to reach deeper.
                    bytes += "\ncpu  1 x 3\nMemTotal: -5 kB\nBattery\n0::/..\n  eth0: 1 2\n";
                    dir.write(path, bytes);
                    break;
                }
                case Damage::unreadable:
                    // A folder where a file should be fails every read, as root too.
                    std::filesystem::create_directories(dir.path() / path);
                    break;
            }
        };
        std::filesystem::create_directories(dir.path() / "proc");
        std::filesystem::create_directories(dir.path() / "sys");
        if (GetParam() != Damage::empty) {
            for (const char* f : procFiles) fill(std::string("proc/") + f);
            for (const char* f : sysFiles) fill(std::string("sys/") + f);
        }
        roots = " --procfs " + quoted((dir.path() / "proc").string()) + " --sysfs " +
                quoted((dir.path() / "sys").string());
    }

    RunResult quillo(const std::string& args) {
        return run("QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" +
                   quoted((dir.path() / "config").string()) + " " QUILLO_BIN "/quillo " + args +
                   roots);
    }
};

TEST_P(BadRoots, EveryCommandExitsZeroWithNeutralValues) {
    const RunResult sample = quillo("sample --json --interval 0");
    ASSERT_EQ(sample.status, 0) << sample.err;
    const auto s = nlohmann::json::parse(sample.out);
    EXPECT_TRUE(s["modelName"].is_string());
    EXPECT_TRUE(s["battery"].is_null() || s["battery"].is_object());
    const RunResult table = quillo("sample --interval 0");
    ASSERT_EQ(table.status, 0) << table.err;
    for (const char c : table.out) {
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20)
            << "a raw control character";
    }

    const RunResult processes = quillo("processes --json");
    ASSERT_EQ(processes.status, 0) << processes.err;
    EXPECT_TRUE(nlohmann::json::parse(processes.out).is_array());
    EXPECT_EQ(quillo("processes").status, 0);
    const RunResult top = quillo("top --json --interval 0.1");
    ASSERT_EQ(top.status, 0) << top.err;
    EXPECT_TRUE(nlohmann::json::parse(top.out).is_array());
    const RunResult metrics = quillo("metrics --interval 0");
    ASSERT_EQ(metrics.status, 0) << metrics.err;
    EXPECT_EQ(metrics.out.find("NaN"), std::string::npos);
    EXPECT_EQ(metrics.out.find("quillo_memory_total_bytes 0\n"), std::string::npos)
        << "what cannot be read is left out, not 0";

    const RunResult snapshot = quillo("snapshot --json --ticks 2 --interval 0.1");
    ASSERT_EQ(snapshot.status, 0) << snapshot.err;
    const auto outlets = nlohmann::json::parse(snapshot.out);
    EXPECT_EQ(outlets.size(), 15u);
    EXPECT_THAT(outlets["loadLabel"].get<std::string>(), HasSubstr("Load Average: "));
}

INSTANTIATE_TEST_SUITE_P(Roots, BadRoots,
                         ::testing::Values(Damage::empty, Damage::garbage, Damage::unreadable),
                         [](const auto& info) {
                             return info.param == Damage::empty     ? std::string("Empty")
                                    : info.param == Damage::garbage ? std::string("Garbage")
                                                                    : std::string("Unreadable");
                         });

// Files that are not files, and a tiny file naming millions of CPUs: every command still
// ends promptly, in bounded memory, with neutral values.
TEST(HostileRoots, FifosAndEndlessCpuListsNeitherHangNorSwell) {
    TempDir dir;
    for (const char* fifo : {"proc/stat", "proc/meminfo", "proc/loadavg", "proc/net/dev",
                             "proc/1/stat", "proc/1/status", "sys/class/power_supply/BAT0/type",
                             "sys/class/thermal/thermal_zone0/temp"}) {
        std::filesystem::create_directories((dir.path() / fifo).parent_path());
        ASSERT_EQ(::mkfifo((dir.path() / fifo).c_str(), 0600), 0) << fifo;
    }
    std::string endless;
    for (int i = 0; i < 1500; ++i) endless += "0-1048575,";
    dir.write("sys/devices/system/cpu/online", endless + "0\n");
    const auto settings = dir.path() / "config" / "quillo" / "io.quillo.shared.json";
    std::filesystem::create_directories(settings.parent_path());
    ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0) << "where the settings are sought";
    // Sanitizers reserve terabytes of address space, so the limit is for plain builds.
    const std::string limit = std::getenv("ASAN_OPTIONS") ? "" : "ulimit -v 1000000; ";
    for (const char* command : {"sample --json --interval 0", "processes --json",
                                "snapshot --json --ticks 1 --interval 0.1"}) {
        const RunResult r =
            run(limit + "XDG_CONFIG_HOME=" + quoted((dir.path() / "config").string()) +
                " timeout 30 " QUILLO_BIN "/quillo " + command + " --procfs " +
                quoted((dir.path() / "proc").string()) + " --sysfs " +
                quoted((dir.path() / "sys").string()));
        EXPECT_EQ(r.status, 0) << command << ": " << r.err;
    }
}

TEST(MissingRoot, IsAClearErrorForEveryCommand) {
    for (const char* command : {"sample", "processes", "snapshot", "--terminal", ""}) {
        const RunResult r =
            run(std::string(QUILLO_BIN "/quillo ") + command + " --procfs /nonexistent/proc");
        EXPECT_NE(r.status, 0) << command;
        EXPECT_THAT(r.err, HasSubstr("/nonexistent/proc")) << command;
    }
}

TEST(UnreadableRoot, PermissionDeniedReadsAsNeutral) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "proc");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir.path() / "proc").c_str(), 0);
    // Root reads a mode-000 folder anyway: as root, the command runs as nobody.
    const std::string as =
        ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const RunResult r = run(as + QUILLO_BIN "/quillo sample --json --interval 0 --procfs " +
                            quoted((dir.path() / "proc").string()));
    ::chmod((dir.path() / "proc").c_str(), 0700);
    EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
