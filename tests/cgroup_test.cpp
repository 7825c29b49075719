#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Exposition.hpp"
#include "quillo/metrics/ProcessUsage.hpp"
#include "quillo/metrics/Sample.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "support/Require.hpp"
#include "support/Run.hpp"
#include "support/TempDir.hpp"

using namespace quillo;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr std::uint64_t mib = 1 << 20;

// A machine of 4 CPUs and 8 GiB, its cgroup mounts as mountinfo lists them.
void machine(const test::TempDir& d, std::string_view cgroup, std::string_view mounts) {
    d.write("proc/meminfo",
            "MemTotal: 8388608 kB\nMemFree: 4194304 kB\nMemAvailable: 6291456 kB\n");
    d.write("sys/devices/system/cpu/online", "0-3\n");
    d.write("proc/self/cgroup", cgroup);
    d.write("proc/self/mountinfo", mounts);
}

constexpr std::string_view v2Mount =
    "30 25 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n";
constexpr std::string_view v1Mounts =
    "31 25 0:27 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
    "32 25 0:28 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
    "33 25 0:29 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n";

}  // namespace

// Nested v2 limits: the smallest on the way up applies, each controller's own; the five
// memory parts fill the limit; what is not a limit ("max", a cpuset of every CPU, at or
// above the machine's) is none.
TEST(Cgroup, V2TheTightestLimitOnTheWayUp) {
    test::TempDir d;
    machine(d, "0::/a/b\n", v2Mount);
    d.write("sys/fs/cgroup/a/memory.max", "536870912\n");
    d.write("sys/fs/cgroup/a/cpu.max", "150000 100000\n");
    d.write("sys/fs/cgroup/a/memory.current", "268435456\n");
    d.write("sys/fs/cgroup/a/memory.stat",
            "anon 1\ninactive_file 58720256\nunevictable 1048576\nkernel_stack 1048576\n"
            "pagetables 0\nslab_unreclaimable 2097152\nzswap 4194304\n");
    d.write("sys/fs/cgroup/a/b/memory.max", "9999999999\n");  // above the machine's
    d.write("sys/fs/cgroup/a/b/cpu.max", "max 100000\n");
    d.write("sys/fs/cgroup/a/b/cpuset.cpus.effective", "0-3\n");
    d.write("sys/fs/cgroup/a/cpu.stat", "usage_usec 2500000\nnr_throttled 7\nthrottled_usec 900\n");
    d.write("sys/fs/cgroup/a/b/cpu.stat", "usage_usec 1\n");
    d.write("sys/fs/cgroup/memory.max", "max\n");

    LinuxPlatform platform(d.roots());
    platform.setCgroup("auto");
    const auto r = platform.cgroup().read(CgroupFiles::memory | CgroupFiles::cpu);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->path, "/a");
    EXPECT_EQ(r->memoryLimitBytes, 512 * mib);
    EXPECT_EQ(r->memoryUsedBytes(), 200 * mib) << "usage less inactive file";
    EXPECT_EQ(r->cpuLimitCores, 1.5);
    EXPECT_EQ(r->cpuUsageNs, 2'500'000'000u) << "where the limit is";
    EXPECT_EQ(r->throttledPeriods, 7u);
    EXPECT_EQ(r->throttledNs, 900'000u);
    const MemoryParts p = *r->memoryParts();
    EXPECT_EQ(p.free + p.inactive + p.active + p.wired + p.compressed, 512 * mib / 1024);
    EXPECT_EQ(p.free, 256 * mib / 1024);
    EXPECT_EQ(p.wired, 4 * mib / 1024);
    EXPECT_EQ(p.compressed, 4 * mib / 1024);

    // The records the panel reads are the cgroup's: its memory, the limit as the total.
    EXPECT_EQ(platform.hostBasicInfo().max_mem, 512 * mib);
    const vm_statistics64 vm = platform.hostVMInfo64();
    EXPECT_EQ(std::uint64_t(vm.active_count + vm.wire_count + vm.compressor_page_count) *
                  std::uint64_t(::getpagesize()),
              200 * mib);
    platform.setCgroup("host");
    EXPECT_EQ(platform.hostBasicInfo().max_mem, 8192 * mib);
    EXPECT_FALSE(platform.cgroup().read(CgroupFiles::memory));
}

// A table of trees: v1 with cpu and cpuacct mounted together beside a v2 hierarchy that
// holds no controller, a cpuset alone, a chosen path, no limit, and damage.
TEST(Cgroup, HierarchiesChoicesAndDamage) {
    struct Case {
        const char* name;
        std::string_view cgroup, mounts, choice;
        std::vector<std::pair<const char*, const char*>> files;
        std::optional<std::uint64_t> memoryLimit;
        std::optional<double> cpuLimit;
        std::string path;
    };
    const Case cases[] = {
        {"v1",
         "5:memory:/docker/c1\n4:cpu,cpuacct:/docker/c1\n0::/\n",
         v1Mounts,
         "auto",
         {{"memory/docker/c1/memory.limit_in_bytes", "536870912\n"},
          {"memory/docker/c1/memory.usage_in_bytes", "104857600\n"},
          {"memory/docker/c1/memory.stat", "cache 1\ntotal_inactive_file 4194304\n"},
          {"memory/memory.limit_in_bytes", "9223372036854771712\n"},
          {"cpu,cpuacct/docker/c1/cpu.cfs_quota_us", "50000\n"},
          {"cpu,cpuacct/docker/c1/cpu.cfs_period_us", "100000\n"},
          {"cpu,cpuacct/docker/c1/cpuacct.usage", "3000000000\n"},
          {"cpu,cpuacct/cpu.cfs_quota_us", "-1\n"}},
         512 * mib,
         0.5,
         "/docker/c1"},
        {"cpuset",
         "0::/pinned\n",
         v2Mount,
         "auto",
         {{"pinned/cpuset.cpus.effective", "2-3\n"}, {"pinned/cpu.stat", "usage_usec 5\n"}},
         std::nullopt,
         2.0,
         "/pinned"},
        {"chosen path",
         "0::/\n",
         v2Mount,
         "/system.slice/db.service",
         {{"system.slice/db.service/memory.max", "1073741824\n"},
          {"system.slice/db.service/memory.current", "1\n"}},
         1024 * mib,
         std::nullopt,
         "/system.slice/db.service"},
        {"no limit",
         "0::/user.slice\n",
         v2Mount,
         "auto",
         {{"user.slice/memory.max", "max\n"}, {"user.slice/cpu.max", "max 100000\n"}},
         std::nullopt,
         std::nullopt,
         ""},
        {"damaged",
         "0::/x\n",
         v2Mount,
         "auto",
         {{"x/memory.max", "lots\n"}, {"x/cpu.max", "50000\n"}, {"x/cpuset.cpus.effective", "z"}},
         std::nullopt,
         std::nullopt,
         ""},
        {"unreadable usage",
         "0::/x\n",
         v2Mount,
         "auto",
         {{"x/memory.max", "536870912\n"}, {"x/memory.current", "\n"}},
         std::nullopt,
         std::nullopt,
         ""},
        {"no membership", "", v2Mount, "auto", {}, std::nullopt, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir d;
        machine(d, c.cgroup, c.mounts);
        for (const auto& [file, text] : c.files)
            d.write(std::string("sys/fs/cgroup/") + file, text);
        LinuxPlatform platform(d.roots());
        platform.setCgroup(std::string(c.choice));
        const auto r = platform.cgroup().read(CgroupFiles::memory | CgroupFiles::cpu);
        EXPECT_EQ(r ? r->memoryLimitBytes : std::nullopt, c.memoryLimit);
        EXPECT_EQ(r ? r->cpuLimitCores : std::nullopt, c.cpuLimit);
        EXPECT_EQ(r ? r->path : "", c.path);
    }
}

// The exporter keeps the machine's figures and adds the cgroup's beside them; the sample
// of a panel's platform has the cgroup's.
TEST(Cgroup, ExporterAddsTheCgroupSampleShowsIt) {
    test::TempDir d;
    machine(d, "0::/c\n", v2Mount);
    d.write("sys/fs/cgroup/c/memory.max", "536870912\n");
    d.write("sys/fs/cgroup/c/memory.current", "268435456\n");
    d.write("sys/fs/cgroup/c/cpu.max", "50000 100000\n");
    d.write("sys/fs/cgroup/c/cpu.stat",
            "usage_usec 1500000\nnr_throttled 3\nthrottled_usec 2000\n");
    LinuxPlatform exporter(d.roots());
    exporter.cgroup().choose("auto");
    const std::string text = cli::exposition(Sampler(exporter).take(), cli::ExpositionFormat::text);
    EXPECT_THAT(text, HasSubstr("quillo_memory_total_bytes 8589934592\n"));
    for (const char* line :
         {"quillo_cgroup_info{path=\"/c\"} 1\n", "quillo_cgroup_memory_limit_bytes 536870912\n",
          "quillo_cgroup_memory_used_bytes 268435456\n", "quillo_cgroup_cpu_limit_cores 0.5\n",
          "quillo_cgroup_cpu_seconds_total 1.5\n", "quillo_cgroup_cpu_throttled_periods_total 3\n",
          "quillo_cgroup_cpu_throttled_seconds_total 0.002\n"})
        EXPECT_THAT(text, HasSubstr(line));

    LinuxPlatform panel(d.roots());
    panel.setCgroup("auto");
    const Sample s = Sampler(panel).take();
    ASSERT_TRUE(s.memory);
    EXPECT_EQ(s.memory->totalBytes, 512 * mib);
    EXPECT_DOUBLE_EQ(s.memory->usedRatio, 0.5);

    d.write("sys/fs/cgroup/c/memory.max", "max\n");
    d.write("sys/fs/cgroup/c/cpu.max", "max 100000\n");
    LinuxPlatform unlimited(d.roots());
    unlimited.cgroup().choose("auto");
    EXPECT_THAT(cli::exposition(Sampler(unlimited).take(), cli::ExpositionFormat::text),
                Not(HasSubstr("quillo_cgroup")));
}

// Live: a child cgroup of 512 MiB and half a CPU in whichever hierarchy holds each
// controller here, a spinner and a memory holder in it, and quillo measuring from inside.
TEST(Cgroup, LiveLimitsAreWhatTheCgroupSays) {
    QUILLO_REQUIRE(::geteuid() == 0, "making a cgroup needs root");
    const std::string mounts = test::readFile("/proc/self/mountinfo");
    const auto v1 = [&](const std::string& controller) -> std::string {
        std::istringstream lines(mounts);
        for (std::string line; std::getline(lines, line);) {
            if (line.find(" - cgroup ") == std::string::npos) continue;
            const auto options = line.substr(line.rfind(' ') + 1);
            if (("," + options + ",").find("," + controller + ",") == std::string::npos) continue;
            std::istringstream fields(line);
            std::string f, point;
            for (int i = 0; i < 5 && fields >> f; ++i) point = f;
            return point;
        }
        return {};
    };
    const std::string name = "quillo-test-" + std::to_string(::getpid());
    std::vector<std::string> folders;  // each hierarchy's new cgroup
    std::string memoryDir = v1("memory"), cpuDir = v1("cpu"), acctDir = v1("cpuacct");
    const bool pureV2 = memoryDir.empty();
    if (pureV2) {
        QUILLO_REQUIRE(std::filesystem::exists("/sys/fs/cgroup/cgroup.controllers"),
                       "no cgroup hierarchy with the memory controller");
        std::ofstream("/sys/fs/cgroup/cgroup.subtree_control") << "+memory +cpu";
        memoryDir = cpuDir = "/sys/fs/cgroup";
    }
    for (const std::string& root : {memoryDir, cpuDir, acctDir}) {
        if (root.empty()) continue;
        const std::string folder = root + "/" + name;
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            std::filesystem::create_directory(folder);
            folders.push_back(folder);
        }
    }
    // Removed however the test ends, once the children have left them.
    const std::shared_ptr<void> removed(nullptr, [&](void*) {
        for (int i = 0; i < 100; ++i) {
            bool left = false;
            for (const std::string& f : folders)
                left = (::rmdir(f.c_str()) != 0 && errno != ENOENT) || left;
            if (!left) return;
            ::usleep(100'000);
        }
        ADD_FAILURE() << "a test cgroup is left: " << std::strerror(errno);
    });
    const auto set = [&](const std::string& root, const char* file, const char* value) {
        std::ofstream(root + "/" + name + "/" + file) << value;
    };
    if (pureV2) {
        set(memoryDir, "memory.max", "536870912");
        set(cpuDir, "cpu.max", "50000 100000");
    } else {
        set(memoryDir, "memory.limit_in_bytes", "536870912");
        set(cpuDir, "cpu.cfs_quota_us", "50000");
        set(cpuDir, "cpu.cfs_period_us", "100000");
    }
    std::string join, leave;
    for (const std::string& f : folders) {
        join += "echo $$ > " + f + "/cgroup.procs && ";
        leave +=
            "echo $$ > " + std::filesystem::path(f).parent_path().string() + "/cgroup.procs && ";
    }
    // 200 MiB touched, then held; a spinner; both bounded. quillo measures from inside,
    // then from outside by the cgroup's path, its own memory no longer in the cgroup's (a
    // sanitized build's is tens of MiB), and what the kernel says of the memory is copied
    // right after, for the comparison.
    const test::TempDir out;
    const std::string o = out.path().string() + "/";
    const std::string memoryFolder = memoryDir + "/" + name + "/";
    const std::string quillo = std::string(QUILLO_BIN) + "/quillo";
    const test::RunResult inside = test::run(
        join +
        "{ timeout 20 sh -c 'while :; do :; done' & spin=$!; } && "
        "{ timeout 20 python3 -c 'import time; b = bytearray(200 << 20); "
        "b[::4096] = b\"x\" * (len(b) // 4096); time.sleep(20)' & hold=$!; } && sleep 3 && " +
        quillo + " sample --json --interval 3 > " + o + "limited && " + leave + quillo +
        " sample --json --cgroup /" + name + " > " + o + "outside && cat " + memoryFolder +
        (pureV2 ? "memory.current" : "memory.usage_in_bytes") + " " + memoryFolder +
        "memory.stat > " + o + "kernel && " + quillo + " sample --json --cgroup host > " + o +
        "host; status=$?; kill $spin $hold; wait; exit $status");
    ASSERT_EQ(inside.status, 0) << inside.err;
    const auto limited = nlohmann::json::parse(test::readFile(o + "limited"));
    const auto host = nlohmann::json::parse(test::readFile(o + "host"));
    const auto outside = nlohmann::json::parse(test::readFile(o + "outside"));
    std::istringstream kernel(test::readFile(o + "kernel"));
    double usage = 0, inactive = 0;
    kernel >> usage;
    for (std::string key, value; kernel >> key >> value;) {
        if (key == (pureV2 ? "inactive_file" : "total_inactive_file")) inactive = std::stod(value);
    }

    ASSERT_TRUE(limited["cgroup"].is_object()) << test::readFile(o + "limited");
    EXPECT_EQ(limited["cgroup"]["memoryLimitBytes"], 512 * mib);
    EXPECT_EQ(limited["cgroup"]["cpuLimitCores"], 0.5);
    EXPECT_GT(usage - inactive, 200.0 * mib) << "the holder's pages count against the cgroup";
    const auto& m = outside["memoryUsage"];
    const double shown =
        (m["active"].get<double>() + m["wired"].get<double>() + m["compressed"].get<double>()) /
        outside["physicalMemory"].get<double>();
    EXPECT_NEAR(shown, (usage - inactive) / (512.0 * mib), 0.02);
    EXPECT_GE(limited["cgroup"]["cpuUsedRatio"].get<double>(), 0.85) << "the spinner at its quota";
    EXPECT_GE(limited["usageCPU"]["user"].get<double>(), 85.0);
    EXPECT_GT(limited["cgroup"]["throttledPeriods"].get<double>(), 0);
    EXPECT_TRUE(host["cgroup"].is_null());
    EXPECT_GT(host["physicalMemory"].get<double>(), 0.5) << "the machine's, in GB";
}

// A process's unit: its v2 path, else systemd's named hierarchy's, else the memory
// controller's; and the processes of a unit summed.
TEST(Cgroup, ProcessesGroupByUnit) {
    test::TempDir d;
    const std::pair<const char*, const char*> files[] = {
        {"10", "0::/system.slice/nginx.service\n"},
        {"11", "9:name=systemd:/system.slice/db.service\n4:memory:/x\n0::/\n"},
        {"12", "4:memory:/docker/c1\n0::/\n"},
        {"13", "0::/system.slice/nginx.service\n"},
        {"14", "garbage"}};
    for (const auto& [pid, text] : files) d.write(std::string("proc/") + pid + "/cgroup", text);
    LinuxPlatform platform(d.roots());
    const auto unit = [&](std::int64_t pid) {
        return platform.processes().cgroup(std::int32_t(pid));
    };
    EXPECT_EQ(unit(11), "/system.slice/db.service");
    EXPECT_EQ(unit(12), "/docker/c1");
    EXPECT_EQ(unit(99), std::nullopt);
    std::vector<ProcessUsage> all;
    for (const std::int64_t pid : {10, 11, 12, 13, 14})
        all.push_back({pid, 0, "root", "p", double(pid), std::uint64_t(pid) << 20});
    const auto units = busiestUnits(all, unit, UsageOrder::cpu, 3);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0].unit, "/system.slice/nginx.service");
    EXPECT_EQ(units[0].processes, 2u);
    EXPECT_EQ(units[0].cpu, 23);
    EXPECT_EQ(units[0].rss, 23u << 20);
    EXPECT_EQ(units[1].unit, "?") << "a cgroup file that says nothing";
    EXPECT_EQ(busiestUnits(all, unit, UsageOrder::memory, 1)[0].unit, units[0].unit);
}

// Live: a process put in a cgroup of its own is listed under it, with its memory, as
// procfs gives the process's.
TEST(Cgroup, LiveTopByUnitListsTheCgroup) {
    QUILLO_REQUIRE(::geteuid() == 0, "making a cgroup needs root");
    const std::string name = "quillo-unit-" + std::to_string(::getpid());
    // Where a process's unit is read from: systemd's named hierarchy beside v1, else v2.
    const std::string root = std::filesystem::exists("/sys/fs/cgroup/systemd/cgroup.procs")
                                 ? "/sys/fs/cgroup/systemd"
                                 : "/sys/fs/cgroup";
    QUILLO_REQUIRE(std::filesystem::exists(root + "/cgroup.procs"), "no cgroup hierarchy here");
    const std::string folder = root + "/" + name;
    std::filesystem::create_directory(folder);
    const std::string quillo = std::string(QUILLO_BIN) + "/quillo";
    const test::RunResult r = test::run(
        "{ sh -c 'echo $$ > " + folder +
        "/cgroup.procs && exec sleep 20' & child=$!; } && "
        "sleep 0.5 && grep VmRSS /proc/$child/status && " +
        quillo +
        " top --by-unit --by memory -n 100000 --interval 0.2 --json; status=$?; kill $child; wait; "
        "exit $status");
    for (int i = 0; i < 50 && ::rmdir(folder.c_str()) != 0 && errno == EBUSY; ++i)
        ::usleep(100'000);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = r.out.find('[');
    ASSERT_NE(json, std::string::npos) << r.out;
    const double kib = std::atof(r.out.c_str() + r.out.find(':') + 1);
    bool found = false;
    for (const auto& unit : nlohmann::json::parse(r.out.substr(json))) {
        if (unit["unit"] != "/" + name) continue;
        found = true;
        EXPECT_EQ(unit["processes"], 1);
        EXPECT_NEAR(unit["rss"].get<double>(), kib * 1024, kib * 1024 * 0.1);
    }
    EXPECT_TRUE(found) << r.out;
}
