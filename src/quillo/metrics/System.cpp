#include "quillo/metrics/System.hpp"

#include "quillo/metrics/Utf8.hpp"
#include "quillo/platform/Platform.hpp"

namespace quillo {

std::string_view rawValue(ThermalLevel level) {
    switch (level) {
        case ThermalLevel::Normal:
            return "Normal";
        case ThermalLevel::Danger:
            return "Danger";
        case ThermalLevel::Crisis:
            return "Crisis";
        case ThermalLevel::NotPublished:
            return "Not Published";
        case ThermalLevel::Unknown:
            return "Unknown";
    }
    return "Unknown";
}

std::optional<ThermalLevel> thermalLevelFromRawValue(std::string_view raw) {
    for (const auto level : {ThermalLevel::Normal, ThermalLevel::Danger, ThermalLevel::Crisis,
                             ThermalLevel::NotPublished, ThermalLevel::Unknown}) {
        if (rawValue(level) == raw) return level;
    }
    return std::nullopt;
}

System::CPUUsage System::usageCPU() {
    const host_cpu_load_info fresh = currentPlatform().hostCPULoadInfo();
    const auto& f = fresh.cpu_ticks;
    if (f[0] == 0 && f[1] == 0 && f[2] == 0 && f[3] == 0) return lastUsage;
    // Modular 32-bit deltas: a counter that wrapped still gives the ticks that passed.
    const auto delta = [&](int state) {
        return double(std::uint32_t(fresh.cpu_ticks[state] - loadPrevious.cpu_ticks[state]));
    };
    const double user = delta(CPU_STATE_USER);
    const double system = delta(CPU_STATE_SYSTEM);
    const double idle = delta(CPU_STATE_IDLE);
    const double nice = delta(CPU_STATE_NICE);
    const double total = ((user + system) + nice) + idle;

    const auto& p = loadPrevious.cpu_ticks;
    const bool neverSampled = p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 0;
    CPUUsage usage;
    if (neverSampled) {
        usage = {0.0, 0.0, 100.0, 0.0};
    } else {
        usage = {system / total * 100.0, user / total * 100.0, idle / total * 100.0,
                 nice / total * 100.0};
    }
    loadPrevious = fresh;
    lastUsage = usage;
    return usage;
}

std::optional<System::Unit> System::unitFromRawValue(double raw) {
    for (const auto unit : {Unit::byte, Unit::kilobyte, Unit::megabyte, Unit::gigabyte}) {
        if (rawValue(unit) == raw) return unit;
    }
    return std::nullopt;
}

std::uint64_t System::PAGE_SIZE() {
    return currentPlatform().pageSize();
}

double System::physicalMemory(Unit unit) {
    return double(currentPlatform().hostBasicInfo().max_mem) / rawValue(unit);
}

System::MemoryUsage System::memoryUsage() {
    Platform& platform = currentPlatform();
    const vm_statistics64 vm = platform.hostVMInfo64();
    const double page = double(platform.pageSize());
    const auto gigabytes = [&](std::uint32_t count) {
        return (double(count) * page) / 1073741824.0;
    };
    return {gigabytes(vm.free_count), gigabytes(vm.active_count), gigabytes(vm.inactive_count),
            gigabytes(vm.wire_count), gigabytes(vm.compressor_page_count)};
}

std::array<double, 3> System::loadAverage(LOAD_AVG type) {
    std::array<double, 3> averages{0.0, 0.0, 0.0};
    if (type == LOAD_AVG::long_) {
        currentPlatform().getloadavg(averages.data(), 3);
        return averages;
    }
    const host_load_info load = currentPlatform().hostLoadInfo();
    for (int i = 0; i < 3; ++i) averages[i] = double(load.avenrun[i]) / double(LOAD_SCALE);
    return averages;
}

std::array<double, 3> System::machFactor() {
    const host_load_info load = currentPlatform().hostLoadInfo();
    return {double(load.mach_factor[0]) / double(LOAD_SCALE),
            double(load.mach_factor[1]) / double(LOAD_SCALE),
            double(load.mach_factor[2]) / double(LOAD_SCALE)};
}

System::Uptime System::uptimeFromSeconds(std::int64_t u) {
    Uptime t;
    t.days = u / 86400;
    u -= 86400 * t.days;
    t.hrs = u / 3600;
    u -= 3600 * t.hrs;
    t.mins = u / 60;
    t.secs = u - 60 * t.mins;
    return t;
}

System::Uptime System::uptime() {
    Platform& platform = currentPlatform();
    const auto boot = platform.bootTime();
    std::int64_t seconds = 0;
    // A boot time so far off that the difference overflows is no boot time at all.
    if (!boot || __builtin_sub_overflow(platform.currentTime(), *boot, &seconds)) return {};
    return uptimeFromSeconds(seconds);
}

System::ProcessCounts System::processCounts() {
    const auto load = currentPlatform().processorSetLoadInfo();
    if (!load) return {};
    return {std::int64_t(load->task_count), std::int64_t(load->thread_count)};
}

std::string System::modelName() {
    // The model name must fit a 128-byte buffer with its terminating zero.
    constexpr std::size_t bufferSize = 128;
    const auto model = currentPlatform().hardwareModel();
    if (!model || model->size() + 1 > bufferSize) return {};
    const std::string_view bytes(*model);
    return decodeUtf8Lossy(bytes.substr(0, bytes.find('\0')));
}

std::int64_t System::physicalCores() {
    return currentPlatform().hostBasicInfo().physical_cpu;
}

std::int64_t System::logicalCores() {
    return currentPlatform().hostBasicInfo().logical_cpu;
}

System::CPUPowerLimitResult System::CPUPowerLimit() {
    CPUPowerLimitResult limit;
    const auto status = currentPlatform().cpuPowerStatus();
    if (!status) return limit;
    if (const auto it = status->find(kIOPMCPUPowerLimitProcessorSpeedKey); it != status->end()) {
        limit.processorSpeed = it->second;
    }
    if (const auto it = status->find(kIOPMCPUPowerLimitProcessorCountKey); it != status->end()) {
        limit.processorCount = std::int64_t(it->second);
    }
    if (const auto it = status->find(kIOPMCPUPowerLimitSchedulerTimeKey); it != status->end()) {
        limit.schedulerTime = it->second;
    }
    return limit;
}

ThermalLevel System::thermalLevel() {
    std::uint32_t level = 0;
    if (currentPlatform().thermalWarningLevel(level) == kIOReturnNotFound) {
        return ThermalLevel::NotPublished;
    }
    switch (level) {
        case kIOPMThermalLevelNormal:
            return ThermalLevel::Normal;
        case kIOPMThermalLevelDanger:
            return ThermalLevel::Danger;
        case kIOPMThermalLevelCritical:
            return ThermalLevel::Crisis;
        default:
            return ThermalLevel::Unknown;
    }
}

}  // namespace quillo
