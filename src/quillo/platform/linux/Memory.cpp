#include "quillo/platform/linux/Memory.hpp"

#include <algorithm>

#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Text.hpp"

namespace quillo {

namespace {

std::uint64_t kb(std::optional<std::uint64_t> value) {
    return std::min(value.value_or(0), maximumKilobytes);
}

}  // namespace

MemInfo parseMemInfo(std::string_view text) {
    MemInfo info;
    const struct {
        std::string_view key;
        std::optional<std::uint64_t> MemInfo::*field;
    } fields[] = {{"MemTotal", &MemInfo::memTotal},
                  {"MemFree", &MemInfo::memFree},
                  {"MemAvailable", &MemInfo::memAvailable},
                  {"Buffers", &MemInfo::buffers},
                  {"Cached", &MemInfo::cached},
                  {"SReclaimable", &MemInfo::sReclaimable},
                  {"Shmem", &MemInfo::shmem},
                  {"Unevictable", &MemInfo::unevictable},
                  {"SUnreclaim", &MemInfo::sUnreclaim},
                  {"KernelStack", &MemInfo::kernelStack},
                  {"PageTables", &MemInfo::pageTables},
                  {"Zswap", &MemInfo::zswap},
                  {"SwapTotal", &MemInfo::swapTotal},
                  {"SwapFree", &MemInfo::swapFree}};
    // The kernel writes each line once, so the first counts, and the reading stops
    // once every field has been met: about half of the file on a current kernel.
    // A damaged value is met too: it reads as absent, as a missing line does.
    std::uint32_t met = 0;
    constexpr std::uint32_t all = (1u << std::size(fields)) - 1;
    forEachLine(text, [&](std::string_view line) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) return true;
        const std::string_view key = line.substr(0, colon);
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            if (fields[i].key != key || (met >> i & 1u)) continue;
            info.*fields[i].field = parseKilobytes(line.substr(colon + 1));
            met |= 1u << i;
        }
        return met != all;
    });
    return info;
}

SwapActivity parseSwapActivity(std::string_view text) {
    SwapActivity activity;
    // Two lines among some two hundred: found directly rather than line by line.
    const auto value = [&](std::string_view key) -> std::optional<std::uint64_t> {
        for (std::size_t at = text.find(key); at != std::string_view::npos;
             at = text.find(key, at + 1)) {
            if (at > 0 && text[at - 1] != '\n') continue;
            const std::string_view rest = text.substr(at + key.size());
            return parseUnsigned(rest.substr(0, rest.find('\n')));
        }
        return std::nullopt;
    };
    activity.pagesIn = value("pswpin ");
    activity.pagesOut = value("pswpout ");
    return activity;
}

std::optional<MemoryParts> memoryPartsFrom(const MemInfo& info) {
    if (!info.memTotal) return std::nullopt;
    const std::uint64_t total = kb(info.memTotal);
    std::uint64_t available = 0;
    if (info.memAvailable) {
        available = kb(info.memAvailable);
    } else {
        const std::uint64_t reclaimable =
            kb(info.memFree) + kb(info.buffers) + kb(info.cached) + kb(info.sReclaimable);
        available = reclaimable - std::min(reclaimable, kb(info.shmem));
    }
    available = std::min(available, total);
    const std::uint64_t used = total - available;
    const std::uint64_t wired = std::min(used, kb(info.sUnreclaim) + kb(info.kernelStack) +
                                                   kb(info.pageTables) + kb(info.unevictable));
    const std::uint64_t compressed = std::min(used - wired, kb(info.zswap));
    const std::uint64_t active = used - wired - compressed;
    const std::uint64_t free = std::min(kb(info.memFree), available);
    return MemoryParts{free, available - free, active, wired, compressed};
}

vm_statistics64 vmStatisticsFrom(const MemInfo& info, std::uint64_t pageSize) {
    const auto parts = memoryPartsFrom(info);
    return parts ? vmStatisticsOf(*parts, pageSize) : vm_statistics64{};
}

vm_statistics64 vmStatisticsOf(const MemoryParts& parts, std::uint64_t pageSize) {
    if (pageSize == 0) return {};
    std::uint64_t runningKb = 0;
    const auto pages = [&](std::uint64_t partKb) {
        const std::uint64_t before = runningKb * 1024 / pageSize;
        runningKb += partKb;
        const std::uint64_t count = runningKb * 1024 / pageSize - before;
        // Saturate rather than wrap: a wrapped page count would read as little memory.
        return std::uint32_t(std::min<std::uint64_t>(count, UINT32_MAX));
    };
    vm_statistics64 vm;
    vm.free_count = pages(parts.free);
    vm.inactive_count = pages(parts.inactive);
    vm.active_count = pages(parts.active);
    vm.wire_count = pages(parts.wired);
    vm.compressor_page_count = pages(parts.compressed);
    return vm;
}

std::optional<MemInfo> MemoryFiles::info() {
    const auto text = files_.readTick(Fs::proc, "meminfo");
    if (!text) return std::nullopt;
    MemInfo info = parseMemInfo(*text);
    if (!info.memTotal) debug::note("meminfo", "MemTotal missing");
    if (!info.memAvailable) debug::note("meminfo", "MemAvailable missing; estimated");
    if (!info.memFree) debug::note("meminfo", "MemFree missing");
    return info;
}

vm_statistics64 MemoryFiles::statistics(std::uint64_t pageSize) {
    const auto meminfo = info();
    return meminfo ? vmStatisticsFrom(*meminfo, pageSize) : vm_statistics64{};
}

SwapActivity MemoryFiles::swapActivity() {
    const auto text = files_.readTick(Fs::proc, "vmstat");
    return text ? parseSwapActivity(*text) : SwapActivity{};
}

std::uint64_t MemoryFiles::totalBytes() {
    const auto total = info().value_or(MemInfo{}).memTotal.value_or(0);
    return total > UINT64_MAX / 1024 ? UINT64_MAX : total * 1024;
}

}  // namespace quillo
