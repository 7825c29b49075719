#include <gtest/gtest.h>

#include <cmath>

#include "quillo/metrics/System.hpp"
#include "support/FakePlatform.hpp"

using namespace quillo;

namespace {

host_cpu_load_info ticks(std::uint32_t user, std::uint32_t system, std::uint32_t idle,
                         std::uint32_t nice) {
    host_cpu_load_info info;
    info.cpu_ticks[CPU_STATE_USER] = user;
    info.cpu_ticks[CPU_STATE_SYSTEM] = system;
    info.cpu_ticks[CPU_STATE_IDLE] = idle;
    info.cpu_ticks[CPU_STATE_NICE] = nice;
    return info;
}

class SystemOnFake : public ::testing::Test {
  protected:
    test::FakePlatform platform;
};

TEST_F(SystemOnFake, CpuSharesBetweenSamples) {
    platform.cpuLoad = ticks(1100, 550, 8300, 550);
    System fresh = System::init();
    auto u = fresh.usageCPU();
    EXPECT_TRUE(u.system == 0 && u.user == 0 && u.idle == 100 && u.nice == 0) << "the first sample";
    EXPECT_EQ(fresh.loadPrevious.cpu_ticks[CPU_STATE_IDLE], 8300u) << "and it primes";

    System sys{ticks(1000, 500, 8000, 500)};
    System copy = sys;
    u = sys.usageCPU();
    EXPECT_TRUE(u.system == 10 && u.user == 20 && u.idle == 60 && u.nice == 10);
    u = sys.usageCPU();
    EXPECT_TRUE(std::isnan(u.system) && std::isnan(u.user) && std::isnan(u.idle) &&
                std::isnan(u.nice))
        << "no tick elapsed";
    platform.cpuLoad = ticks(1000, 500, 8100, 500);
    EXPECT_EQ(copy.usageCPU().idle, 100.0) << "a copy samples over its own interval";
}

TEST_F(SystemOnFake, FailedReadRepeatsTheLastFigureAndKeepsTheBaseline) {
    System sys{ticks(1000, 500, 8000, 500)};
    platform.cpuLoad = ticks(1100, 550, 8300, 550);
    EXPECT_EQ(sys.usageCPU().idle, 60.0);
    platform.cpuLoad = host_cpu_load_info{};  // what an unreadable stat gives
    const auto failed = sys.usageCPU();
    EXPECT_TRUE(failed.system == 10 && failed.user == 20 && failed.idle == 60 && failed.nice == 10);
    platform.cpuLoad = ticks(1500, 550, 8700, 550);
    const auto next = sys.usageCPU();
    EXPECT_TRUE(next.user == 50 && next.idle == 50) << "measured from the last good sample";
}

TEST_F(SystemOnFake, WrappedCounterCountsTheTicksThatPassed) {
    System sys{ticks(UINT32_MAX - 49, 100, 100, 100)};
    platform.cpuLoad = ticks(50, 100, 200, 100);
    const auto usage = sys.usageCPU();
    EXPECT_EQ(usage.user, 50.0);
    EXPECT_EQ(usage.idle, 50.0);
}

TEST_F(SystemOnFake, MemoryInGigabytesWhateverThePageSizeAndUnits) {
    platform.vm.free_count = 262144;
    EXPECT_EQ(System::memoryUsage().free, 1.0);
    platform.vm.free_count = 65536;
    platform.page = 16384;
    EXPECT_EQ(System::memoryUsage().free, 1.0);
    platform.basic.max_mem = 17179869184ull;
    EXPECT_EQ(System::physicalMemory(), 16.0);
    EXPECT_EQ(System::physicalMemory(System::Unit::byte), 17179869184.0);
    EXPECT_EQ(System::physicalMemory(System::Unit::kilobyte),
              1024 * System::physicalMemory(System::Unit::megabyte));
    EXPECT_EQ(System::unitFromRawValue(1024.0), System::Unit::kilobyte);
    EXPECT_EQ(System::unitFromRawValue(1000.0), std::nullopt);
    EXPECT_EQ(System::unitFromRawValue(std::nan("")), std::nullopt);
}

TEST_F(SystemOnFake, LoadAveragesMachFactorsAndCounts) {
    platform.averages[0] = 1.52;
    platform.averagesAvailable = 1;
    EXPECT_EQ(System::loadAverage(), (std::array<double, 3>{1.52, 0.0, 0.0}))
        << "what is not filled stays 0";
    platform.load = {{1500, 250, 0}, {3999, 1000, 0}};
    EXPECT_EQ(System::loadAverage(System::LOAD_AVG::short_),
              (std::array<double, 3>{1.5, 0.25, 0.0}));
    EXPECT_EQ(System::machFactor(), (std::array<double, 3>{3.999, 1.0, 0.0}));
    EXPECT_EQ(System::processCounts().processCount, 0) << "no processor set";
    platform.processorSet = processor_set_load_info{412, 1987, 0, 0};
    EXPECT_EQ(System::processCounts().threadCount, 1987);
}

TEST_F(SystemOnFake, UptimeTruncatesTowardZero) {
    platform.boot = 1000;
    const auto at = [&](std::int64_t seconds) {
        platform.now = 1000 + seconds;
        return System::uptime();
    };
    EXPECT_EQ(at(90061), (System::Uptime{1, 1, 1, 1}));
    EXPECT_EQ(at(86399), (System::Uptime{0, 23, 59, 59}));
    EXPECT_EQ(at(-90), (System::Uptime{0, 0, -1, -30}));
    platform.boot = INT64_MIN;
    EXPECT_EQ(System::uptime(), System::Uptime{}) << "a difference that overflows";
    platform.boot.reset();
    EXPECT_EQ(System::uptime(), System::Uptime{});
}

TEST_F(SystemOnFake, ModelNameFitsOneHundredTwentyEightBytes) {
    platform.model = std::string(127, 'M');
    EXPECT_EQ(System::modelName(), std::string(127, 'M'));
    platform.model = std::string(128, 'M');
    EXPECT_EQ(System::modelName(), "");
    platform.model = std::string("Mac\xff\0tail", 8);
    EXPECT_EQ(System::modelName(), "Mac\xEF\xBF\xBD");
}

TEST_F(SystemOnFake, PowerLimitKeepsMinusOneForWhatIsMissing) {
    EXPECT_EQ(System::CPUPowerLimit().processorCount, -1) << "no status at all";
    platform.powerStatus = CPUPowerStatus{
        {"CPU_Speed_Limit", 100}, {"CPU_Available_CPUs", 8}, {"CPU_Scheduler_Limit", 100}};
    auto limit = System::CPUPowerLimit();
    EXPECT_TRUE(limit.processorSpeed == 100.0 && limit.processorCount == 8 &&
                limit.schedulerTime == 100.0);
    platform.powerStatus = CPUPowerStatus{{"CPU_Available_CPUs", 4}};
    limit = System::CPUPowerLimit();
    EXPECT_TRUE(limit.processorSpeed == -1.0 && limit.processorCount == 4 &&
                limit.schedulerTime == -1.0);
}

TEST_F(SystemOnFake, ThermalLevels) {
    const std::pair<std::uint32_t, ThermalLevel> levels[] = {{0, ThermalLevel::Normal},
                                                             {5, ThermalLevel::Danger},
                                                             {7, ThermalLevel::Unknown},
                                                             {10, ThermalLevel::Crisis}};
    for (const auto& [level, expected] : levels) {
        platform.thermalLevelStored = level;
        EXPECT_EQ(System::thermalLevel(), expected) << level;
    }
    platform.thermalStatus = kIOReturnNotFound;
    EXPECT_EQ(System::thermalLevel(), ThermalLevel::NotPublished);
    EXPECT_EQ(rawValue(ThermalLevel::NotPublished), "Not Published");
    EXPECT_EQ(thermalLevelFromRawValue("NotPublished"), std::nullopt);
    EXPECT_EQ(thermalLevelFromRawValue("normal"), std::nullopt);
    EXPECT_EQ(kIOReturnNotFound, -536870160);
    EXPECT_EQ(std::uint32_t(kIOReturnNotFound), 0xE00002F0u);
}

}  // namespace
