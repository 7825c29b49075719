#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quillo/metrics/System.hpp"
#include "quillo/platform/linux/Cpu.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/platform/linux/Memory.hpp"
#include "support/TempDir.hpp"

using namespace quillo;

namespace {

FsRoot tree(const std::string& name) {
    const std::string base = std::string(QUILLO_FIXTURES) + "/linux/" + name;
    return {base + "/proc", base + "/sys"};
}

class OnTree {
  public:
    explicit OnTree(const FsRoot& root) : platform_(root) { setCurrentPlatform(&platform_); }
    ~OnTree() { setCurrentPlatform(nullptr); }
    LinuxPlatform& platform() { return platform_; }

  private:
    LinuxPlatform platform_;
};

TEST(LinuxPlatform, DesktopWithoutBatteryOrCpufreqLimits) {
    OnTree on(tree("desktop-no-battery"));
    const host_cpu_load_info cpu = on.platform().hostCPULoadInfo();
    EXPECT_EQ(cpu.cpu_ticks[CPU_STATE_USER], 301854u) << "guest is already part of user";
    EXPECT_EQ(cpu.cpu_ticks[CPU_STATE_SYSTEM], 111922u + 2 + 3944 + 0);
    EXPECT_EQ(cpu.cpu_ticks[CPU_STATE_IDLE], 8979004u + 3552);
    EXPECT_EQ(System::physicalMemory(System::Unit::kilobyte), 3742148.0);
    EXPECT_EQ(System::loadAverage(), (std::array<double, 3>{0.21, 0.37, 0.39}));
    EXPECT_EQ(System::processCounts().processCount, 3);
    EXPECT_EQ(System::processCounts().threadCount, 719);
    EXPECT_EQ(System::modelName(), "PowerEdge R6515");
    EXPECT_EQ(System::logicalCores(), 8);
    EXPECT_EQ(System::physicalCores(), 8) << "no topology: the logical count";
    EXPECT_EQ(System::CPUPowerLimit().processorSpeed, -1.0);
    EXPECT_EQ(System::CPUPowerLimit().processorCount, 8);
    EXPECT_EQ(System::thermalLevel(), ThermalLevel::Normal) << "one zone, no trips";
    EXPECT_EQ(on.platform().bootTime(), 1418183276);
}

TEST(LinuxPlatform, ThrottledWorkstation) {
    OnTree on(tree("workstation-throttled"));
    EXPECT_EQ(System::logicalCores(), 4);
    EXPECT_EQ(System::physicalCores(), 2);
    EXPECT_EQ(on.platform().hostBasicInfo().max_cpus, 8);
    const auto limit = System::CPUPowerLimit();
    EXPECT_DOUBLE_EQ(limit.processorSpeed, 100.0 * 3000000 / 3600000);
    EXPECT_EQ(limit.processorCount, 4);
    EXPECT_EQ(limit.schedulerTime, 37.5);
    EXPECT_EQ(System::thermalLevel(), ThermalLevel::Crisis);
    EXPECT_EQ(System::modelName(), "ThinkStation P360");

    const vm_statistics64 vm = on.platform().hostVMInfo64();
    const std::uint64_t page = on.platform().pageSize();
    EXPECT_EQ(vm.wire_count, (65536 + 262144 + 32768 + 131072) * 1024 / page);
    EXPECT_EQ(vm.compressor_page_count, 524288 * 1024 / page);
    EXPECT_EQ(System::machFactor(), (std::array<double, 3>{0.5, 1.75, 3.0}));
}

TEST(LinuxPlatform, LaptopTreeWithCoolZoneAndSymlinkedCpufreq) {
    OnTree on(tree("laptop-discharging"));
    EXPECT_EQ(System::loadAverage(), (std::array<double, 3>{0.02, 0.04, 0.05}));
    EXPECT_EQ(System::logicalCores(), 8);
    EXPECT_EQ(System::thermalLevel(), ThermalLevel::Normal);
}

TEST(LinuxPlatform, MalformedTreeGivesNeutralValues) {
    OnTree on(tree("malformed"));
    EXPECT_EQ(on.platform().hostCPULoadInfo().cpu_ticks[CPU_STATE_USER], 0u);
    EXPECT_EQ(System::memoryUsage().free, 0.0) << "MemFree: 44O324 kB";
    EXPECT_GT(System::memoryUsage().inactive, 0.0) << "one bad line spoils only its own field";
    EXPECT_EQ(System::loadAverage(), (std::array<double, 3>{0, 0, 0}));
    EXPECT_EQ(System::machFactor(), (std::array<double, 3>{0, 0, 0}));
    EXPECT_EQ(System::modelName(), "");
    EXPECT_EQ(System::thermalLevel(), ThermalLevel::NotPublished);
    EXPECT_EQ(on.platform().bootTime(), 1418183276) << "btime survives a truncated cpu line";
}

TEST(LinuxPlatform, MissingRootReadsAsZeros) {
    OnTree on({"/nonexistent/proc", "/nonexistent/sys"});
    EXPECT_EQ(System::physicalMemory(), 0.0);
    EXPECT_EQ(System::uptime(), (System::Uptime{}));
    EXPECT_EQ(System::processCounts().processCount, 0);
    EXPECT_EQ(System::logicalCores(), 0);
    EXPECT_EQ(System::thermalLevel(), ThermalLevel::NotPublished);
    System sys;
    EXPECT_EQ(sys.usageCPU().idle, 100.0);
}

// A copied tree changes as tools write files: in place, by rename, or gone for a while.
TEST(LinuxPlatform, TreeFilesAreReadAsTheyStandNow) {
    test::TempDir dir;
    dir.write("proc/loadavg", "1.00 2.00 3.00 1/10 99\n");
    dir.write("proc/stat", "cpu  100 0 100 800 0 0 0 0 0 0\n");
    std::filesystem::create_directories(dir.path() / "sys");
    OnTree on({(dir.path() / "proc").string(), (dir.path() / "sys").string()});
    System sys;
    sys.usageCPU();
    EXPECT_EQ(System::loadAverage()[0], 1.0);
    dir.write("proc/loadavg", "4.00 5.00 6.00 1/10 99\n");
    EXPECT_EQ(System::loadAverage()[0], 4.0) << "rewritten in place";
    dir.write("proc/loadavg.new", "7.00 8.00 9.00 1/10 99\n");
    std::filesystem::rename(dir.path() / "proc/loadavg.new", dir.path() / "proc/loadavg");
    EXPECT_EQ(System::loadAverage()[0], 7.0) << "replaced by rename";

    dir.write("proc/stat", "cpu  150 0 150 900 0 0 0 0 0 0\n");
    EXPECT_EQ(sys.usageCPU().idle, 50.0);
    std::filesystem::remove(dir.path() / "proc/stat");
    EXPECT_EQ(sys.usageCPU().idle, 50.0) << "an unreadable stat repeats the last figure";
    dir.write("proc/stat", "cpu  150 0 150 1100 0 0 0 0 0 0\n");
    EXPECT_EQ(sys.usageCPU().idle, 100.0) << "measured from the last good sample";
}

TEST(LinuxPlatform, LiveSystemAgreesWithTheKernel) {
    LinuxPlatform live;
    std::string meminfo = test::readFile("/proc/meminfo");
    EXPECT_EQ(live.hostBasicInfo().max_mem, parseMemInfo(meminfo).memTotal.value_or(0) * 1024);
    EXPECT_EQ(live.bootTime(), parseProcStat(test::readFile("/proc/stat")).bootTime);
    EXPECT_GT(live.hostBasicInfo().logical_cpu, 0);
}

}  // namespace
