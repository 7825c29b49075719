#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "quillo/metrics/System.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/platform/linux/Memory.hpp"
#include "support/Child.hpp"
#include "support/Panel.hpp"
#include "support/Run.hpp"

using namespace quillo;

namespace {

struct MappingCase {
    const char* name;
    const char* meminfo;
    // kB of free, inactive, active, wired, compressed: with 1 kB pages, page counts.
    std::uint32_t free, inactive, active, wired, compressed;
};

class MemoryMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(MemoryMapping, FivePartsOfMemTotal) {
    const MappingCase& c = GetParam();
    const vm_statistics64 vm = vmStatisticsFrom(parseMemInfo(c.meminfo), 1024);
    EXPECT_EQ(vm.free_count, c.free);
    EXPECT_EQ(vm.inactive_count, c.inactive);
    EXPECT_EQ(vm.active_count, c.active);
    EXPECT_EQ(vm.wire_count, c.wired);
    EXPECT_EQ(vm.compressor_page_count, c.compressed);
}

INSTANTIATE_TEST_SUITE_P(
    Meminfo, MemoryMapping,
    ::testing::Values(
        // Kernel 6.18 with 3 GiB held by a program: Active is only file cache, the
        // program's memory sits on the inactive list and must still count as used.
        MappingCase{"CurrentKernelAnonymousOnInactiveList",
                    "MemTotal: 24683772 kB\nMemFree: 20612148 kB\nMemAvailable: 21181072 kB\n"
                    "Active: 283108 kB\nInactive: 3611340 kB\nUnevictable: 13192 kB\n"
                    "SUnreclaim: 24344 kB\nKernelStack: 1776 kB\nPageTables: 7276 kB\n"
                    "Zswap: 0 kB\n",
                    20612148, 568924, 3456112, 46588, 0},
        MappingCase{"OldKernelWithoutMemAvailable",
                    "MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 300 kB\n"
                    "SReclaimable: 60 kB\nShmem: 10 kB\nSUnreclaim: 40 kB\n",
                    100, 400, 460, 40, 0},
        MappingCase{"KernelMemoryBeyondUsedIsCapped",
                    "MemTotal: 1000 kB\nMemFree: 900 kB\nMemAvailable: 950 kB\n"
                    "PageTables: 70 kB\nZswap: 30 kB\n",
                    900, 50, 0, 50, 0},
        MappingCase{"ZswapTakesWhatKernelMemoryLeaves",
                    "MemTotal: 1000 kB\nMemFree: 100 kB\nMemAvailable: 200 kB\n"
                    "KernelStack: 300 kB\nZswap: 900 kB\n",
                    100, 100, 0, 300, 500},
        MappingCase{"FreeNeverAboveAvailable",
                    "MemTotal: 1000 kB\nMemFree: 600 kB\nMemAvailable: 500 kB\n", 500, 0, 500, 0,
                    0},
        MappingCase{"NoMemTotalIsAZeroRecord", "MemFree: 600 kB\nMemAvailable: 500 kB\n", 0, 0, 0,
                    0, 0},
        MappingCase{"DamagedFreeReadsAsNone",
                    "MemTotal: 1000 kB\nMemFree: 44O324 kB\nMemAvailable: 700 kB\n", 0, 700, 300, 0,
                    0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MemoryMapping, PageRoundingNeverLosesAPage) {
    const MemInfo info = parseMemInfo(
        "MemTotal: 1048572 kB\nMemFree: 1001 kB\nMemAvailable: 300017 kB\nSUnreclaim: 5 kB\n"
        "Zswap: 77 kB\n");
    const vm_statistics64 vm = vmStatisticsFrom(info, 16384);
    EXPECT_EQ(std::uint64_t(vm.free_count) + vm.inactive_count + vm.active_count + vm.wire_count +
                  vm.compressor_page_count,
              1048572u * 1024 / 16384);
}

// The machine itself: what the panel shows must be what free(1) calls used, and it must
// move when a program takes memory.
class LiveMemory : public test::PanelTest {
  protected:
    LinuxPlatform live;
    ScopedPlatform scope{live};

    double row() {
        tick();
        return bar("memoryProgressBar").current();
    }
    static double kernelUsedPercent() {
        const MemInfo info = parseMemInfo(test::readFile("/proc/meminfo"));
        return 100.0 * double(*info.memTotal - *info.memAvailable) / double(*info.memTotal);
    }
};

TEST_F(LiveMemory, RowIsWhatFreeCallsUsedAndFollowsAProgram) {
    update();
    const double before = row();
    const double kernelBefore = kernelUsedPercent();
    EXPECT_NEAR(before, kernelBefore, 1.0);

    constexpr std::size_t held = std::size_t(1) << 30;
    auto child = test::Child::holdingStill([] {
        void* block =
            ::mmap(nullptr, held, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) ::_exit(1);
        std::memset(block, 0x5a, held);
    });
    const double during = row();
    const double kernel = kernelUsedPercent();
    const test::RunResult free = test::run("free -b | awk '/^Mem:/ { print $2, $3 }'");
    child.reset();

    EXPECT_NEAR(during, kernel, 1.0);
    double total = 0, used = 0;
    ASSERT_EQ(std::sscanf(free.out.c_str(), "%lf %lf", &total, &used), 2) << free.err;
    EXPECT_NEAR(during, 100.0 * used / total, 2.0) << "free(1) and the panel disagree";
    // MemAvailable is the kernel's estimate, and reclaim may move it by a few hundred
    // megabytes meanwhile: the row must rise as the kernel's own figure rose, which
    // must show most of the child's memory for the comparison to mean anything.
    const double heldPercent = 100.0 * double(held) / System::physicalMemory(System::Unit::byte);
    ASSERT_GT(kernel - kernelBefore, 0.5 * heldPercent) << "the child holds its memory";
    EXPECT_NEAR(during - before, kernel - kernelBefore, 1.0)
        << "a program's memory must count as used";

    const System::MemoryUsage parts = System::memoryUsage();
    EXPECT_NEAR(parts.free + parts.inactive + parts.active + parts.wired + parts.compressed,
                System::physicalMemory(), 1e-6)
        << "the five figures add up to the installed memory";
}

}  // namespace
