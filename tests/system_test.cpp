#include <gtest/gtest.h>

#include <cmath>

#include "metrics/System.hpp"
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

TEST_F(SystemOnFake, FirstSampleAfterInitIsAllIdleAndPrimes) {
    platform.cpuLoad = ticks(1100, 550, 8300, 550);
    System sys = System::init();
    const auto usage = sys.usageCPU();
    EXPECT_EQ(usage.system, 0.0);
    EXPECT_EQ(usage.user, 0.0);
    EXPECT_EQ(usage.idle, 100.0);
    EXPECT_EQ(usage.nice, 0.0);
    EXPECT_EQ(sys.loadPrevious.cpu_ticks[CPU_STATE_IDLE], 8300u);
}

TEST_F(SystemOnFake, SharesOfTheTicksBetweenSamples) {
    System sys{ticks(1000, 500, 8000, 500)};
    platform.cpuLoad = ticks(1100, 550, 8300, 550);
    const auto usage = sys.usageCPU();
    EXPECT_EQ(usage.system, 10.0);
    EXPECT_EQ(usage.user, 20.0);
    EXPECT_EQ(usage.idle, 60.0);
    EXPECT_EQ(usage.nice, 10.0);
    EXPECT_EQ(sys.loadPrevious.cpu_ticks[CPU_STATE_USER], 1100u);
}

TEST_F(SystemOnFake, WrappedCounterCountsTheTicksThatPassed) {
    System sys{ticks(UINT32_MAX - 49, 100, 100, 100)};
    platform.cpuLoad = ticks(50, 100, 200, 100);  // user wrapped after 100 ticks
    const auto usage = sys.usageCPU();
    EXPECT_EQ(usage.user, 50.0);
    EXPECT_EQ(usage.idle, 50.0);
}

TEST_F(SystemOnFake, NoTicksElapsedIsNotANumberAndStillStores) {
    System sys{ticks(10, 10, 10, 10)};
    platform.cpuLoad = ticks(10, 10, 10, 10);
    const auto usage = sys.usageCPU();
    EXPECT_TRUE(std::isnan(usage.system) && std::isnan(usage.user) && std::isnan(usage.idle) &&
                std::isnan(usage.nice));
}

TEST_F(SystemOnFake, CopiesSampleOverTheirOwnIntervals) {
    System a{ticks(100, 0, 100, 0)};
    System b = a;
    platform.cpuLoad = ticks(200, 0, 100, 0);
    EXPECT_EQ(a.usageCPU().user, 100.0);
    platform.cpuLoad = ticks(200, 0, 200, 0);
    EXPECT_EQ(b.usageCPU().user, 50.0);
    EXPECT_EQ(a.usageCPU().idle, 100.0);
}

TEST_F(SystemOnFake, MemoryInGigabytesWhateverThePageSize) {
    platform.vm.free_count = 262144;
    platform.page = 4096;
    EXPECT_EQ(System::memoryUsage().free, 1.0);
    platform.vm.free_count = 65536;
    platform.page = 16384;
    EXPECT_EQ(System::memoryUsage().free, 1.0);
    EXPECT_EQ(System::memoryUsage().wired, 0.0);
    EXPECT_EQ(System::PAGE_SIZE(), 16384u);

    platform.basic.max_mem = 17179869184ull;
    EXPECT_EQ(System::physicalMemory(), 16.0);
    EXPECT_EQ(System::physicalMemory(System::Unit::byte), 17179869184.0);
    EXPECT_EQ(System::physicalMemory(System::Unit::kilobyte),
              1024 * System::physicalMemory(System::Unit::megabyte));
}

TEST(SystemUnit, ExactRawValuesOnly) {
    EXPECT_EQ(System::unitFromRawValue(1024.0), System::Unit::kilobyte);
    EXPECT_EQ(System::unitFromRawValue(1073741824.0), System::Unit::gigabyte);
    EXPECT_EQ(System::unitFromRawValue(1000.0), std::nullopt);
    EXPECT_EQ(System::unitFromRawValue(std::nan("")), std::nullopt);
}

TEST_F(SystemOnFake, LoadAveragesAndMachFactors) {
    platform.averages[0] = 1.52;
    platform.averages[1] = 1.38;
    platform.averagesAvailable = 2;
    EXPECT_EQ(System::loadAverage(), (std::array<double, 3>{1.52, 1.38, 0.0}));
    platform.load = {{1500, 250, 0}, {3999, 1000, 0}};
    EXPECT_EQ(System::loadAverage(System::LOAD_AVG::short_),
              (std::array<double, 3>{1.5, 0.25, 0.0}));
    EXPECT_EQ(System::machFactor(), (std::array<double, 3>{3.999, 1.0, 0.0}));
}

TEST_F(SystemOnFake, UptimeTruncatesTowardZero) {
    platform.boot = 1000;
    const auto at = [&](std::int64_t seconds) {
        platform.now = 1000 + seconds;
        return System::uptime();
    };
    EXPECT_EQ(at(90061), (System::Uptime{1, 1, 1, 1}));
    EXPECT_EQ(at(86399), (System::Uptime{0, 23, 59, 59}));
    EXPECT_EQ(at(0), (System::Uptime{0, 0, 0, 0}));
    EXPECT_EQ(at(-90), (System::Uptime{0, 0, -1, -30}));
    platform.boot.reset();
    EXPECT_EQ(System::uptime(), (System::Uptime{0, 0, 0, 0}));
    platform.boot = INT64_MIN;
    EXPECT_EQ(System::uptime(), (System::Uptime{0, 0, 0, 0})) << "a difference that overflows";
}

TEST_F(SystemOnFake, ProcessCountsAndCores) {
    EXPECT_EQ(System::processCounts().processCount, 0);
    platform.processorSet = processor_set_load_info{412, 1987, 0, 0};
    EXPECT_EQ(System::processCounts().processCount, 412);
    EXPECT_EQ(System::processCounts().threadCount, 1987);
    platform.basic.physical_cpu = 4;
    platform.basic.logical_cpu = 8;
    EXPECT_EQ(System::physicalCores(), 4);
    EXPECT_EQ(System::logicalCores(), 8);
}

TEST_F(SystemOnFake, ModelNameFitsOneHundredTwentyEightBytes) {
    platform.model = std::string(127, 'M');
    EXPECT_EQ(System::modelName(), std::string(127, 'M'));
    platform.model = std::string(128, 'M');
    EXPECT_EQ(System::modelName(), "");
    platform.model = std::string("Mac\xff", 4) + std::string("\0tail", 5);
    EXPECT_EQ(System::modelName(), "Mac\xEF\xBF\xBD");
    platform.model.reset();
    EXPECT_EQ(System::modelName(), "");
}

TEST_F(SystemOnFake, PowerLimitKeepsMinusOneForWhatIsMissing) {
    auto limit = System::CPUPowerLimit();
    EXPECT_EQ(limit.processorSpeed, -1.0);
    EXPECT_EQ(limit.processorCount, -1);
    EXPECT_EQ(limit.schedulerTime, -1.0);
    platform.powerStatus = CPUPowerStatus{
        {"CPU_Speed_Limit", 100}, {"CPU_Available_CPUs", 8}, {"CPU_Scheduler_Limit", 100}};
    limit = System::CPUPowerLimit();
    EXPECT_EQ(limit.processorSpeed, 100.0);
    EXPECT_EQ(limit.processorCount, 8);
    EXPECT_EQ(limit.schedulerTime, 100.0);
    platform.powerStatus = CPUPowerStatus{{"CPU_Available_CPUs", 4}};
    limit = System::CPUPowerLimit();
    EXPECT_EQ(limit.processorSpeed, -1.0);
    EXPECT_EQ(limit.processorCount, 4);
    EXPECT_EQ(limit.schedulerTime, -1.0);
}

TEST_F(SystemOnFake, ThermalLevels) {
    const auto levelFor = [&](std::uint32_t level, IOReturn status = kIOReturnSuccess) {
        platform.thermalLevelStored = level;
        platform.thermalStatus = status;
        return System::thermalLevel();
    };
    EXPECT_EQ(levelFor(0), ThermalLevel::Normal);
    EXPECT_EQ(levelFor(5), ThermalLevel::Danger);
    EXPECT_EQ(levelFor(7), ThermalLevel::Unknown);
    EXPECT_EQ(levelFor(10), ThermalLevel::Crisis);
    EXPECT_EQ(levelFor(10, kIOReturnNotFound), ThermalLevel::NotPublished);
    platform.thermalLevelStored.reset();
    platform.thermalStatus = kIOReturnError;
    EXPECT_EQ(System::thermalLevel(), ThermalLevel::Normal) << "a failed call stores nothing";
}

TEST(ThermalLevelRaw, ExactNamesOnly) {
    EXPECT_EQ(rawValue(ThermalLevel::NotPublished), "Not Published");
    EXPECT_EQ(thermalLevelFromRawValue("Not Published"), ThermalLevel::NotPublished);
    EXPECT_EQ(thermalLevelFromRawValue("NotPublished"), std::nullopt);
    EXPECT_EQ(thermalLevelFromRawValue("normal"), std::nullopt);
}

TEST(ReturnCodes, SignedThirtyTwoBit) {
    EXPECT_EQ(kIOReturnNotFound, -536870160);
    EXPECT_EQ(std::uint32_t(kIOReturnNotFound), 0xE00002F0u);
    EXPECT_EQ(std::uint32_t(kIOReturnStillOpen), 0xE00002D2u);
    EXPECT_EQ(std::uint32_t(kIOReturnInvalid), 0xE0000001u);
}

}  // namespace
