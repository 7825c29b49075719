#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "quillo/platform/Records.hpp"
#include "quillo/platform/linux/FileReader.hpp"

namespace quillo {

// Physical memory from procfs meminfo.

// The fields of meminfo that the page counts are made of, in kB as the kernel writes
// them; absent where the line is missing or damaged.
struct MemInfo {
    std::optional<std::uint64_t> memTotal, memFree, memAvailable, buffers, cached, sReclaimable,
        shmem, unevictable, sUnreclaim, kernelStack, pageTables, zswap, swapTotal, swapFree;
};
MemInfo parseMemInfo(std::string_view text);
// Far beyond any machine, and small enough that kB × 1024 and the sums cannot overflow:
// larger counts are damage, and are taken as this.
inline constexpr std::uint64_t maximumKilobytes = std::uint64_t(1) << 50;

// The five page counts, made so that they partition MemTotal and so that active +
// wired + compressed is what free(1) calls used:
//   used       MemTotal − MemAvailable, the kernel's own estimate of what can be had
//              without swapping; kernels before 3.14 lack it, and MemFree + Buffers +
//              Cached + SReclaimable − Shmem stands in for it;
//   wired      the part of used that the kernel cannot reclaim: SUnreclaim +
//              KernelStack + PageTables + Unevictable, at most used;
//   compressed Zswap where the kernel has it, at most what is left of used;
//   active     the rest of used;
//   free       MemFree, at most MemAvailable;
//   inactive   MemAvailable − free: cache the kernel gives back on demand.
// The kernel's own Active and Inactive lists are not used: since 5.9 new anonymous
// memory starts on the inactive list, so Active misses most of what programs hold.
// Each count is the pages between two running totals, so rounding never makes the
// five disagree with MemTotal. No MemTotal is a zero record.
vm_statistics64 vmStatisticsFrom(const MemInfo& info, std::uint64_t pageSize);

// The same five parts in kB, before they are counted in pages.
struct MemoryParts {
    std::uint64_t free = 0, inactive = 0, active = 0, wired = 0, compressed = 0;
};
std::optional<MemoryParts> memoryPartsFrom(const MemInfo& info);
// The parts counted in pages.
vm_statistics64 vmStatisticsOf(const MemoryParts& parts, std::uint64_t pageSize);

// The pages swapped in and out since boot, from procfs vmstat.
struct SwapActivity {
    std::optional<std::uint64_t> pagesIn, pagesOut;  // pswpin, pswpout
};
SwapActivity parseSwapActivity(std::string_view vmstatText);

class MemoryFiles {
  public:
    explicit MemoryFiles(FileReader& files) : files_(files) {}

    // Absent when the file cannot be read; what is missing in it is noted.
    std::optional<MemInfo> info();
    vm_statistics64 statistics(std::uint64_t pageSize);
    SwapActivity swapActivity();
    // MemTotal in bytes; 0 when it cannot be read.
    std::uint64_t totalBytes();

  private:
    FileReader& files_;
};

}  // namespace quillo
