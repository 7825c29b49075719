#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quillo/metrics/System.hpp"
#include "quillo/platform/linux/Cpu.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/platform/linux/Memory.hpp"
#include "support/TempDir.hpp"

using namespace quillo;

namespace {

class OnTree {
  public:
    explicit OnTree(const FsRoot& root) : platform_(root) { setCurrentPlatform(&platform_); }
    ~OnTree() { setCurrentPlatform(nullptr); }
    LinuxPlatform& platform() { return platform_; }

  private:
    LinuxPlatform platform_;
};

// What each fixture tree reads as is in the goldens of `quillo sample` (golden_test).

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
