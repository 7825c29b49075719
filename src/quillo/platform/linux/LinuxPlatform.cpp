#include "quillo/platform/linux/LinuxPlatform.hpp"

#include <sys/statvfs.h>
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

host_cpu_load_info LinuxPlatform::hostCPULoadInfo() {
    return cpu_.loadInfo();
}

vm_statistics64 LinuxPlatform::hostVMInfo64() {
    return memory_.statistics(pageSize());
}

std::uint64_t LinuxPlatform::pageSize() {
    static const std::uint64_t size = [] {
        const long s = ::sysconf(_SC_PAGESIZE);
        return s > 0 ? std::uint64_t(s) : std::uint64_t(4096);
    }();
    return size;
}

host_basic_info LinuxPlatform::hostBasicInfo() {
    host_basic_info info;
    info.max_mem = memory_.totalBytes();
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
    ReadBuffer text;
    // Firmware of PCs names the product in DMI; boards without it name it in the device tree.
    for (const char* path : {"class/dmi/id/product_name", "firmware/devicetree/base/model"}) {
        if (!files_.readOnce(Fs::sys, path, text)) {
            debug::note(path, describe(text.failure()));
            continue;
        }
        const std::string_view name = trim(text.view().substr(0, text.view().find('\0')));
        if (!name.empty()) return std::string(name);
        debug::note(path, "empty");
    }
    return std::nullopt;
}

std::optional<processor_set_load_info> LinuxPlatform::processorSetLoadInfo() {
    const auto tasks = processCount();
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

namespace {

// Blocks in bytes, saturating: damaged counts never wrap.
std::uint64_t blockBytes(std::uint64_t count, std::uint64_t blockSize) {
    return count > std::numeric_limits<std::uint64_t>::max() / std::max<std::uint64_t>(blockSize, 1)
               ? std::numeric_limits<std::uint64_t>::max()
               : count * blockSize;
}

}  // namespace

FileSystemAttributes fileSystemAttributesFrom(std::uint64_t blocks, std::uint64_t freeBlocks,
                                              std::uint64_t availableBlocks,
                                              std::uint64_t fragmentSize) {
    const std::uint64_t used = blocks - std::min(freeBlocks, blocks);
    const auto bytes = [&](std::uint64_t count) { return blockBytes(count, fragmentSize); };
    return {bytes(used + std::min(availableBlocks, UINT64_MAX - used)), bytes(availableBlocks)};
}

std::optional<FileSystemAttributes> LinuxPlatform::fileSystemAttributes(const char* path) {
    struct statvfs vfs {};
    if (::statvfs(path, &vfs) != 0) {
        debug::note(std::string("statvfs ") + path, std::strerror(errno));
        return std::nullopt;
    }
    return fileSystemAttributesFrom(vfs.f_blocks, vfs.f_bfree, vfs.f_bavail, vfs.f_frsize);
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

std::optional<CpuTimes> LinuxPlatform::cpuTimes() {
    const auto stat = files_.readTick(Fs::proc, "stat");
    return stat ? parseCpuTimes(*stat) : std::nullopt;
}

HostSnapshot LinuxPlatform::snapshot(const DefaultRoutes* known) {
    HostSnapshot s;
    if (const auto stat = files_.readTick(Fs::proc, "stat")) {
        s.cpu = parseCpuTimes(*stat);
        s.bootTime = parseProcStatBootTime(*stat);
    }
    if (const auto meminfo = files_.readTick(Fs::proc, "meminfo"))
        s.memory = parseMemInfo(*meminfo);
    if (const auto loadavg = files_.readTick(Fs::proc, "loadavg")) {
        const LoadAvg load = parseLoadAvg(*loadavg);
        if (load.count == 3) s.load = load;
    }
    s.processes = processCount();
    const std::vector<int> online = cpu_.onlineCpus();
    host_basic_info basic;
    cpu_.fillBasicInfo(basic, online);
    s.logicalCpus = basic.logical_cpu;
    s.physicalCpus = basic.physical_cpu;
    const CPUPowerStatus power = cpu_.powerStatus(online);
    if (const auto it = power.find(kIOPMCPUPowerLimitProcessorSpeedKey); it != power.end())
        s.speedLimitPercent = it->second;
    s.schedulerLimitPercent = power.at(kIOPMCPUPowerLimitSchedulerTimeKey);
    if (known) {
        s.ipv4 = known->ipv4;
        s.ipv6 = known->ipv6;
    } else {
        s.ipv4 = network_.defaultRoute(true);
        s.ipv6 = network_.defaultRoute(false);
    }
    // The bound is on what is kept, not on the primary interfaces: past it, the lines of
    // the default routes' interfaces are still taken (net/dev itself is bounded in size).
    const auto primary = [&](std::string_view name) {
        return (s.ipv4 && s.ipv4->interface == name) || (s.ipv6 && s.ipv6->interface == name);
    };
    network_.walkInterfaces([&](std::string_view name, std::uint64_t in, std::uint64_t out) {
        if (s.interfaces.size() < HostSnapshot::maximumInterfaces || primary(name))
            s.interfaces.push_back({std::string(name), in, out});
        return true;
    });
    if (struct statvfs vfs{}; ::statvfs("/", &vfs) == 0) {
        const auto bytes = [&](std::uint64_t count) { return blockBytes(count, vfs.f_frsize); };
        s.root =
            HostSnapshot::Volume{bytes(vfs.f_blocks), bytes(std::min(vfs.f_bfree, vfs.f_blocks)),
                                 bytes(std::min(vfs.f_bavail, vfs.f_bfree))};
    }
    s.thermalLevel = thermalLevelOf(thermal_.zones());
    s.batteries = power_.machineBatteries();
    return s;
}

std::optional<std::size_t> LinuxPlatform::processCount() {
    if (files_.rootDescriptor(Fs::proc) < 0) return std::nullopt;
    std::size_t processes = 0;
    files_.forEachEntryTick(
        Fs::proc, "",
        [&](std::string_view name) {
            if (parseUnsigned(name)) ++processes;
        },
        ProcessFiles::maximumProcesses);
    return processes;
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
