#include "quillo/platform/linux/LinuxPlatform.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>

#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Text.hpp"

namespace quillo {

LinuxPlatform::LinuxPlatform(FsRoot root) : files_(std::move(root)) {}

void LinuxPlatform::setCgroup(std::string choice) {
    cgroupView_ = choice != "host";
    cgroup_.choose(std::move(choice));
    cgroupTicksFrom_.reset();
    cgroupIdleTicks_ = 0;
}

host_cpu_load_info LinuxPlatform::hostCPULoadInfo() {
    if (cgroupView_) {
        if (const auto r = cgroup_.read(CgroupFiles::cpu); r && r->cpuUsageNs) {
            // In milliseconds: finer than procfs stat's ticks, as only ratios are taken.
            const auto now = std::chrono::steady_clock::now();
            const std::uint64_t busy = *r->cpuUsageNs / 1'000'000;
            if (!cgroupTicksFrom_) cgroupTicksFrom_.emplace(now, busy);
            const auto& [since, busyThen] = *cgroupTicksFrom_;
            const double allowed =
                std::chrono::duration<double>(now - since).count() * *r->cpuLimitCores * 1000.0;
            const double used = double(busy - std::min(busy, busyThen));
            cgroupIdleTicks_ =
                std::max(cgroupIdleTicks_, std::uint64_t(std::max(0.0, allowed - used)));
            host_cpu_load_info info;
            info.cpu_ticks[CPU_STATE_USER] = std::uint32_t(busy);
            // Never all zero: that reads as no record at all.
            info.cpu_ticks[CPU_STATE_IDLE] = std::uint32_t(cgroupIdleTicks_ + 1);
            return info;
        }
    }
    return cpu_.loadInfo();
}

vm_statistics64 LinuxPlatform::hostVMInfo64() {
    if (cgroupView_) {
        if (const auto r = cgroup_.read(CgroupFiles::memory)) {
            if (const auto parts = r->memoryParts())
                return vmStatisticsOf(*parts, quillo::pageSize());
        }
    }
    return memory_.statistics(quillo::pageSize());
}

std::uint64_t LinuxPlatform::pageSize() {
    return quillo::pageSize();
}

host_basic_info LinuxPlatform::hostBasicInfo() {
    host_basic_info info;
    const auto limit = cgroupView_ ? cgroup_.memoryLimit() : std::nullopt;
    // Whole kB, as the limit's parts are counted.
    info.max_mem = limit ? *limit / 1024 * 1024 : memory_.totalBytes();
    info.memory_size = std::int32_t(std::min<std::uint64_t>(info.max_mem, INT32_MAX));
    cpu_.fillBasicInfo(info);
    return info;
}

int LinuxPlatform::getloadavg(double averages[], int count) {
    const LoadAvg load = cpu_.loadAverage();
    const int n = std::min(count, load.count);
    for (int i = 0; i < n; ++i) averages[i] = load.averages[i];
    return load.count == 0 ? -1 : n;
}

host_load_info LinuxPlatform::hostLoadInfo() {
    const LoadAvg load = cpu_.loadAverage();
    if (load.count == 0) return {};
    return hostLoadFrom(load, int(cpu_.onlineCpus().size()));
}

std::optional<std::int64_t> LinuxPlatform::bootTime() {
    return cpu_.bootTime();
}

std::int64_t LinuxPlatform::currentTime() {
    return std::int64_t(std::time(nullptr));
}

std::optional<std::string> LinuxPlatform::hardwareModel() {
    return machine_.model();
}

std::optional<processor_set_load_info> LinuxPlatform::processorSetLoadInfo() {
    const auto tasks = processes_.count();
    if (!tasks) return std::nullopt;
    processor_set_load_info info;
    info.task_count = std::int32_t(std::min<std::size_t>(*tasks, INT32_MAX));
    const LoadAvg load = cpu_.loadAverage();
    if (!load.threads) debug::note("loadavg", "no thread count after the slash");
    info.thread_count =
        std::int32_t(std::clamp<std::int64_t>(load.threads.value_or(0), 0, INT32_MAX));
    return info;
}

std::optional<CPUPowerStatus> LinuxPlatform::cpuPowerStatus() {
    return cpu_.powerStatus();
}

IOReturn LinuxPlatform::thermalWarningLevel(std::uint32_t& level) {
    const auto highest = thermalLevelOf(thermal_.zones());
    if (!highest) return kIOReturnNotFound;
    level = *highest;
    return kIOReturnSuccess;
}

std::optional<FileSystemAttributes> LinuxPlatform::fileSystemAttributes(const char* path) {
    const auto space = volumeSpace(path);
    if (!space) return std::nullopt;
    return dfAttributes(*space);
}

unsigned LinuxPlatform::if_nametoindex(const char* name) {
    return name ? network_.interfaceIndex(name) : 0;
}

bool LinuxPlatform::walkInterfaceList(const InterfaceVisitor& f) {
    return network_.walkInterfaces(f);
}

std::optional<PropertyList> LinuxPlatform::copyDynamicStoreValue(std::string_view key) {
    const bool v4 = key == kGlobalIPv4StateKey;
    if (!v4 && key != kGlobalIPv6StateKey) return std::nullopt;
    const auto route = network_.defaultRoute(v4);
    if (!route) return std::nullopt;
    // Linux has no network services, so the state holds no PrimaryService.
    PropertyDictionary state{{kSCPropNetPrimaryInterface, route->interface}};
    if (!route->gateway.empty()) state.emplace(kSCPropNetRouter, route->gateway);
    return state;
}

io_service_t LinuxPlatform::IOServiceGetMatchingService(std::string_view name) {
    if (name != "AppleSmartBattery") return 0;
    auto battery = power_.machineBattery();
    if (!battery) {
        debug::note("class/power_supply", "no battery of the machine's own");
        return 0;
    }
    std::lock_guard lock(servicesMutex_);
    const io_service_t handle = nextService_++;
    if (nextService_ == 0) nextService_ = 1;
    services_.insert_or_assign(handle, std::move(*battery));
    return handle;
}

std::optional<PropertyValue> LinuxPlatform::IORegistryEntryCreateCFProperty(io_service_t service,
                                                                            std::string_view key) {
    std::lock_guard lock(servicesMutex_);
    const auto it = services_.find(service);
    if (it == services_.end()) return std::nullopt;
    auto value = batteryProperty(key, it->second);
    if (!value && debug::enabled() && key != "DesignCycleCount9C") {
        const auto [what, why] = whyAbsent(key, it->second);
        debug::noteAlways(what, why);
    }
    return value;
}

IOReturn LinuxPlatform::IOObjectRelease(io_object_t object) {
    std::lock_guard lock(servicesMutex_);
    return services_.erase(object) == 1 ? kIOReturnSuccess : kIOReturnBadArgument;
}

bool LinuxPlatform::listProcesses(std::vector<std::int32_t>& pids) {
    return processes_.list(pids);
}

std::optional<kinfo_proc> LinuxPlatform::processInfo(std::int32_t pid) {
    return processes_.info(pid);
}

bool LinuxPlatform::processUsage(std::vector<ProcessUsageSample>& out) {
    return processes_.usage(out);
}

std::optional<cpu_type_t> LinuxPlatform::processCpuType(std::int32_t pid) {
    return processes_.cpuType(pid);
}

}  // namespace quillo
