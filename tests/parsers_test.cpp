#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quillo/platform/linux/Cpu.hpp"
#include "quillo/platform/linux/Thermal.hpp"

using namespace quillo;
using ::testing::ElementsAre;

namespace {

struct StatCase {
    const char* name;
    const char* text;
    bool hasCpu;
    std::uint32_t user, system, idle, nice;
    std::optional<std::int64_t> bootTime;
};

class ProcStatParse : public ::testing::TestWithParam<StatCase> {};

TEST_P(ProcStatParse, AggregateLineAndBootTime) {
    const StatCase& c = GetParam();
    const ProcStat stat = parseProcStat(c.text);
    ASSERT_EQ(stat.cpu.has_value(), c.hasCpu);
    if (c.hasCpu) {
        const host_cpu_load_info info = loadInfoFrom(*stat.cpu);
        EXPECT_EQ(info.cpu_ticks[CPU_STATE_USER], c.user);
        EXPECT_EQ(info.cpu_ticks[CPU_STATE_SYSTEM], c.system);
        EXPECT_EQ(info.cpu_ticks[CPU_STATE_IDLE], c.idle);
        EXPECT_EQ(info.cpu_ticks[CPU_STATE_NICE], c.nice);
    }
    EXPECT_EQ(stat.bootTime, c.bootTime);
    // A parse that stops early must find what the full one finds.
    EXPECT_EQ(parseProcStat(c.text, ProcStat::aggregate).cpu.has_value(), c.hasCpu);
    EXPECT_EQ(parseProcStat(c.text, ProcStat::btime).bootTime, c.bootTime);
}

INSTANTIATE_TEST_SUITE_P(
    Linux, ProcStatParse,
    ::testing::Values(
        // user nice system idle iowait irq softirq steal guest guest_nice
        StatCase{"FullLineFoldsIrqStealAndIowait",
                 "cpu  10 2 30 400 5 6 7 8 9 1\nbtime 1418183276\n", true, 10, 30 + 6 + 7 + 8,
                 400 + 5, 2, 1418183276},
        StatCase{"FourColumnsOfOldKernels", "cpu 1 2 3 4\n", true, 1, 3, 4, 2, std::nullopt},
        StatCase{"ShortLineIsNoSample", "cpu  301854 612 111922\nbtime 5\n", false, 0, 0, 0, 0, 5},
        StatCase{"NonNumericFieldIsNoSample", "cpu  1 2 x 4\n", false, 0, 0, 0, 0, std::nullopt},
        StatCase{"EmptyFile", "", false, 0, 0, 0, 0, std::nullopt},
        StatCase{"CountersWrapAtThirtyTwoBits", "cpu 4294967297 0 0 4294967296\n", true, 1, 0, 0, 0,
                 std::nullopt},
        StatCase{"NonNumericBootTime", "cpu 1 2 3 4\nbtime soon\n", true, 1, 3, 4, 2, std::nullopt},
        StatCase{"PerCpuLinesAreNotTheAggregate", "cpu0 1 2 3 4\n", false, 0, 0, 0, 0,
                 std::nullopt},
        StatCase{"BootTimeFirstAndNoNewline", "btime 42", false, 0, 0, 0, 0, 42},
        StatCase{"BootTimeAfterABlankFirstLine", "\nbtime 5\n", false, 0, 0, 0, 0, 5},
        StatCase{"FirstOfTwoAggregateLinesCounts", "cpu 1 2\ncpu 5 6 7 8\nbtime 1\nbtime 2\n",
                 false, 0, 0, 0, 0, 1},
        StatCase{"BtimeLookalike", "cpu 1 2 3 4\nxbtime 9\nbtime 7\n", true, 1, 3, 4, 2, 7}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProcStatParse, ListsThePerCpuLines) {
    EXPECT_THAT(parseProcStat("cpu  1 1 1 1\ncpu0 1 1 1 1\ncpu3 1 1 1 1\ncpufoo\n").cpus,
                ElementsAre(0, 3));
}

struct LoadCase {
    const char* name;
    const char* text;
    int count;
    double first;
    std::optional<std::int64_t> threads;
};

class LoadAvgParse : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadAvgParse, AveragesAndThreads) {
    const LoadCase& c = GetParam();
    const LoadAvg load = parseLoadAvg(c.text);
    EXPECT_EQ(load.count, c.count);
    EXPECT_EQ(load.averages[0], c.first);
    EXPECT_EQ(load.threads, c.threads);
}

INSTANTIATE_TEST_SUITE_P(
    Linux, LoadAvgParse,
    ::testing::Values(LoadCase{"Valid", "0.21 0.37 0.39 1/719 19737\n", 3, 0.21, 719},
                      LoadCase{"Empty", "", 0, 0.0, std::nullopt},
                      LoadCase{"TwoAverages", "1.5 2.5\n", 2, 1.5, std::nullopt},
                      LoadCase{"NonNumericSecond", "1.5 x 2.5 1/2 3\n", 1, 1.5, 2},
                      LoadCase{"NoSlash", "1 2 3 719 5\n", 3, 1.0, std::nullopt},
                      LoadCase{"Garbage", "abc\n", 0, 0.0, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadAvgParse, HostLoadScalesAndMachFactors) {
    LoadAvg load;
    load.averages[0] = 1.5;
    load.averages[1] = 0.25;
    load.averages[2] = 9.0;
    load.count = 3;
    const host_load_info info = hostLoadFrom(load, 4);
    EXPECT_THAT(info.avenrun, ElementsAre(1500, 250, 9000));
    EXPECT_THAT(info.mach_factor, ElementsAre(2500, 3750, 400));  // 4 / (9 + 1)
}

TEST(CpuListParse, RangesAndDamage) {
    EXPECT_THAT(*parseCpuList("0-3,8,10-11\n"), ElementsAre(0, 1, 2, 3, 8, 10, 11));
    EXPECT_THAT(*parseCpuList("0"), ElementsAre(0));
    std::string endless;
    for (int i = 0; i < 1500; ++i) endless += "0-8191,";
    for (const std::string& bad :
         {std::string(), std::string("3-1"), std::string("a"), std::string("0-"),
          std::string("0,,1"), std::string("0-99999999"), std::string("0-5000,0-5000"),
          endless + "0"}) {
        EXPECT_EQ(parseCpuList(bad), std::nullopt) << bad.substr(0, 40);
    }
}

TEST(CgroupParse, QuotaAndPath) {
    EXPECT_EQ(parseCgroupCpuMax("150000 100000\n"), 1.5);
    EXPECT_EQ(parseCgroupCpuMax("max 100000\n"), std::nullopt);
    EXPECT_EQ(parseCgroupCpuMax("100 0"), std::nullopt);
    EXPECT_EQ(parseCgroupCpuMax("100"), std::nullopt);
    EXPECT_EQ(parseCgroupV2Path("12:cpu:/x\n0::/user.slice/a.scope\n"), "/user.slice/a.scope");
    EXPECT_EQ(parseCgroupV2Path("12:cpu:/x\n"), std::nullopt);
}

TEST(ThermalZone, TripsDecideTheLevel) {
    const std::vector<ThermalTrip> trips = {{"critical", 105000},
                                            {"hot", 90000},
                                            {"passive", 80000},
                                            {"active", 50000},
                                            {"critical", 0}};
    EXPECT_EQ(thermalLevelOfZone(49000, trips), 0u);
    EXPECT_EQ(thermalLevelOfZone(60000, trips), 0u) << "an active trip only starts a fan";
    EXPECT_EQ(thermalLevelOfZone(80000, trips), 5u);
    EXPECT_EQ(thermalLevelOfZone(90000, trips), 10u);
    EXPECT_EQ(thermalLevelOfZone(-44000, {{"critical", -273000}}), 0u) << "disabled trip";
}

}  // namespace
