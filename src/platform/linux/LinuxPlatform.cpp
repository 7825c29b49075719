#include "platform/linux/LinuxPlatform.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <utility>

#include "platform/linux/Parsers.hpp"
#include "platform/linux/PowerSupply.hpp"

namespace quillo {

namespace {

// One buffer per thread, reused, so a tick allocates nothing once warm.
ReadBuffer& scratch() {
    thread_local ReadBuffer buffer;
    return buffer;
}

std::optional<std::int64_t> readSigned(FileReader& files, Fs fs, const std::string& path) {
    ReadBuffer& text = scratch();
    if (!files.read(fs, path, text)) return std::nullopt;
    return parseSigned(trim(text.view()));
}

cpu_type_t machineCpuType() {
#if defined(__x86_64__)
    return CPU_TYPE_X86_64;
#elif defined(__i386__)
    return CPU_TYPE_I386;
#elif defined(__aarch64__)
    return CPU_TYPE_ARM64;
#elif defined(__arm__)
    return CPU_TYPE_ARM;
#elif defined(__powerpc64__)
    return CPU_TYPE_POWERPC64;
#elif defined(__powerpc__)
    return CPU_TYPE_POWERPC;
#else
    return CPU_TYPE_ANY;
#endif
}

std::int32_t clampCount(std::size_t n) {
    return std::int32_t(std::min<std::size_t>(n, INT32_MAX));
}

}  // namespace

LinuxPlatform::LinuxPlatform(FsRoot root) : files_(std::move(root)) {}

host_cpu_load_info LinuxPlatform::hostCPULoadInfo() {
    ReadBuffer& text = scratch();
    if (!files_.read(Fs::proc, "stat", text)) return {};
    return parseProcStatCpu(text.view()).value_or(host_cpu_load_info{});
}

vm_statistics64 LinuxPlatform::hostVMInfo64() {
    ReadBuffer& text = scratch();
    if (!files_.read(Fs::proc, "meminfo", text)) return {};
    return vmStatisticsFrom(parseMemInfo(text.view()), pageSize());
}

std::uint64_t LinuxPlatform::pageSize() {
    static const std::uint64_t size = [] {
        const long s = ::sysconf(_SC_PAGESIZE);
        return s > 0 ? std::uint64_t(s) : std::uint64_t(4096);
    }();
    return size;
}

std::vector<int> LinuxPlatform::onlineCpus() {
    ReadBuffer& text = scratch();
    if (files_.read(Fs::sys, "devices/system/cpu/online", text)) {
        if (auto cpus = parseCpuList(text.view())) return std::move(*cpus);
    }
    if (files_.read(Fs::proc, "stat", text)) return parseProcStat(text.view()).cpus;
    return {};
}

host_basic_info LinuxPlatform::hostBasicInfo() {
    host_basic_info info;
    ReadBuffer& text = scratch();
    if (files_.read(Fs::proc, "meminfo", text)) {
        const auto total = parseMemTotal(text.view()).value_or(0);
        info.max_mem = total > UINT64_MAX / 1024 ? UINT64_MAX : total * 1024;
        info.memory_size = std::int32_t(std::min<std::uint64_t>(info.max_mem, INT32_MAX));
    }
    const std::vector<int> online = onlineCpus();
    info.logical_cpu = info.logical_cpu_max = info.avail_cpus = clampCount(online.size());

    std::lock_guard lock(topologyMutex_);
    if (!possibleCpus_) {
        if (files_.readOnce(Fs::sys, "devices/system/cpu/possible", text)) {
            if (const auto possible = parseCpuList(text.view()))
                possibleCpus_ = clampCount(possible->size());
        }
    }
    info.max_cpus = possibleCpus_.value_or(info.logical_cpu);

    if (online != coresCountedFor_ || online.empty()) {
        // Cores are distinct (package, core) pairs; without a topology for every online
        // CPU the logical count is the honest answer.
        std::set<std::pair<std::int64_t, std::int64_t>> cores;
        bool complete = !online.empty();
        for (const int cpu : online) {
            const std::string base = "devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
            ReadBuffer& t = scratch();
            std::optional<std::int64_t> package, core;
            if (files_.readOnce(Fs::sys, base + "physical_package_id", t))
                package = parseSigned(trim(t.view()));
            if (files_.readOnce(Fs::sys, base + "core_id", t)) core = parseSigned(trim(t.view()));
            if (!package || !core) {
                complete = false;
                break;
            }
            cores.emplace(*package, *core);
        }
        physicalCores_ = complete ? clampCount(cores.size()) : info.logical_cpu;
        coresCountedFor_ = online;
    }
    info.physical_cpu = info.physical_cpu_max = physicalCores_;
    info.cpu_type = machineCpuType();
    return info;
}

int LinuxPlatform::getloadavg(double averages[], int count) {
    ReadBuffer& text = scratch();
    if (!files_.read(Fs::proc, "loadavg", text)) return -1;
    const LoadAvg load = parseLoadAvg(text.view());
    const int n = std::min(count, load.count);
    for (int i = 0; i < n; ++i) averages[i] = load.averages[i];
    return load.count == 0 ? -1 : n;
}

host_load_info LinuxPlatform::hostLoadInfo() {
    ReadBuffer& text = scratch();
    if (!files_.read(Fs::proc, "loadavg", text)) return {};
    const LoadAvg load = parseLoadAvg(text.view());
    if (load.count == 0) return {};
    return hostLoadFrom(load, int(onlineCpus().size()));
}

std::optional<std::int64_t> LinuxPlatform::bootTime() {
    ReadBuffer& text = scratch();
    if (!files_.read(Fs::proc, "stat", text)) return std::nullopt;
    return parseProcStatBootTime(text.view());
}

std::int64_t LinuxPlatform::currentTime() {
    return std::int64_t(std::time(nullptr));
}

std::optional<std::string> LinuxPlatform::hardwareModel() {
    ReadBuffer& text = scratch();
    // Firmware of PCs names the product in DMI; boards without it name it in the device tree.
    for (const auto* path : {"class/dmi/id/product_name", "firmware/devicetree/base/model"}) {
        if (!files_.readOnce(Fs::sys, path, text)) continue;
        const std::string_view name = trim(text.view().substr(0, text.view().find('\0')));
        if (!name.empty()) return std::string(name);
    }
    return std::nullopt;
}

std::optional<processor_set_load_info> LinuxPlatform::processorSetLoadInfo() {
    if (files_.rootDescriptor(Fs::proc) < 0) return std::nullopt;
    processor_set_load_info info;
    std::size_t tasks = 0;
    files_.forEachEntry(Fs::proc, "", [&](std::string_view name) {
        if (parseUnsigned(name)) ++tasks;
    });
    info.task_count = clampCount(tasks);
    ReadBuffer& text = scratch();
    if (files_.read(Fs::proc, "loadavg", text)) {
        const LoadAvg load = parseLoadAvg(text.view());
        info.thread_count =
            std::int32_t(std::clamp<std::int64_t>(load.threads.value_or(0), 0, INT32_MAX));
    }
    return info;
}

std::optional<double> LinuxPlatform::speedLimit(const std::vector<int>& cpus) {
    std::optional<double> highest;
    for (const int cpu : cpus) {
        const std::string base = "devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/";
        const auto limit = readSigned(files_, Fs::sys, base + "scaling_max_freq");
        const auto hardware = readSigned(files_, Fs::sys, base + "cpuinfo_max_freq");
        if (!limit || !hardware || *hardware <= 0 || *limit < 0) continue;
        const double percent = 100.0 * double(*limit) / double(*hardware);
        if (!highest || percent > *highest) highest = percent;
    }
    return highest;
}

std::optional<double> LinuxPlatform::cgroupQuotaCpus() {
    ReadBuffer& text = scratch();
    if (!files_.readOnce(Fs::proc, "self/cgroup", text)) return std::nullopt;
    const auto path = parseCgroupV2Path(text.view());
    if (!path) return std::nullopt;
    // The tightest quota on the way up to the root is the one the scheduler enforces.
    std::string dir = "fs/cgroup" + std::string(*path);
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    std::optional<double> tightest;
    for (;;) {
        if (files_.readOnce(Fs::sys, dir + "/cpu.max", text)) {
            if (const auto quota = parseCgroupCpuMax(text.view());
                quota && (!tightest || *quota < *tightest)) {
                tightest = quota;
            }
        }
        const auto slash = dir.rfind('/');
        if (dir == "fs/cgroup" || slash == std::string::npos) break;
        dir.resize(slash);
    }
    return tightest;
}

std::optional<CPUPowerStatus> LinuxPlatform::cpuPowerStatus() {
    const std::vector<int> online = onlineCpus();
    CPUPowerStatus status;
    if (const auto speed = speedLimit(online)) status[kIOPMCPUPowerLimitProcessorSpeedKey] = *speed;
    if (!online.empty()) status[kIOPMCPUPowerLimitProcessorCountKey] = double(online.size());
    double scheduler = 100.0;
    if (const auto quota = cgroupQuotaCpus(); quota && !online.empty()) {
        scheduler = std::min(100.0, 100.0 * *quota / double(online.size()));
    }
    status[kIOPMCPUPowerLimitSchedulerTimeKey] = scheduler;
    return status;
}

IOReturn LinuxPlatform::thermalWarningLevel(std::uint32_t& level) {
    std::vector<std::string> zones;
    files_.forEachEntry(Fs::sys, "class/thermal", [&](std::string_view name) {
        if (name.starts_with("thermal_zone")) zones.emplace_back(name);
    });
    std::sort(zones.begin(), zones.end());
    // A zone whose temperature cannot be read says nothing; when none can be read, no
    // level is published.
    bool published = false;
    std::uint32_t highest = kIOPMThermalLevelNormal;
    std::vector<std::string> tripTypes;
    for (const std::string& zone : zones) {
        const std::string base = "class/thermal/" + zone + "/";
        const auto temperature = readSigned(files_, Fs::sys, base + "temp");
        if (!temperature) continue;
        published = true;
        std::vector<ThermalTrip> trips;
        tripTypes.clear();
        for (int i = 0; i < 64; ++i) {
            const std::string trip = base + "trip_point_" + std::to_string(i) + "_";
            const auto at = readSigned(files_, Fs::sys, trip + "temp");
            ReadBuffer& text = scratch();
            if (!at || !files_.read(Fs::sys, trip + "type", text)) break;
            tripTypes.emplace_back(trim(text.view()));
            trips.push_back({{}, *at});
        }
        for (std::size_t i = 0; i < trips.size(); ++i) trips[i].type = tripTypes[i];
        // Older ACPI zones publish their passive trip point as a file of its own.
        if (const auto passive = readSigned(files_, Fs::sys, base + "passive")) {
            trips.push_back({"passive", *passive});
        }
        highest = std::max(highest, thermalLevelOfZone(*temperature, trips));
    }
    if (!published) return kIOReturnNotFound;
    level = highest;
    return kIOReturnSuccess;
}

std::optional<FileSystemAttributes> LinuxPlatform::fileSystemAttributes(const char* path) {
    struct statvfs vfs {};
    if (::statvfs(path, &vfs) != 0) return std::nullopt;
    // Free space is what an ordinary user may still write, as df reports it.
    return FileSystemAttributes{std::uint64_t(vfs.f_blocks) * vfs.f_frsize,
                                std::uint64_t(vfs.f_bavail) * vfs.f_frsize};
}

namespace {

// A name the kernel could have given an interface; anything else must not become a
// path under sysfs.
bool plausibleInterfaceName(std::string_view name) {
    if (name.empty() || name.size() >= 16 || name == "." || name == "..") return false;
    for (const char c : name) {
        if (c == '/' || c == ':' || static_cast<unsigned char>(c) <= ' ') return false;
    }
    return true;
}

}  // namespace

unsigned LinuxPlatform::if_nametoindex(const char* name) {
    if (!name || !plausibleInterfaceName(name)) return 0;
    const auto index = readSigned(files_, Fs::sys, "class/net/" + std::string(name) + "/ifindex");
    return index && *index > 0 && *index <= INT32_MAX ? unsigned(*index) : 0;
}

bool LinuxPlatform::walkInterfaceList(const InterfaceVisitor& f) {
    ReadBuffer& text = scratch();
    if (!files_.read(Fs::proc, "net/dev", text)) return false;
    forEachNetDevLine(text.view(), f);
    return true;
}

std::optional<PropertyList> LinuxPlatform::copyDynamicStoreValue(std::string_view key) {
    const bool v4 = key == kGlobalIPv4StateKey;
    if (!v4 && key != kGlobalIPv6StateKey) return std::nullopt;
    ReadBuffer& text = scratch();
    if (!files_.read(Fs::proc, v4 ? "net/route" : "net/ipv6_route", text)) return std::nullopt;
    const auto route = v4 ? parseIPv4DefaultRoute(text.view()) : parseIPv6DefaultRoute(text.view());
    if (!route) return std::nullopt;
    // Linux has no network services, so the state holds no PrimaryService.
    PropertyDictionary state{{kSCPropNetPrimaryInterface, route->interface}};
    if (!route->gateway.empty()) state.emplace(kSCPropNetRouter, route->gateway);
    return state;
}

std::optional<std::string> LinuxPlatform::supplyAttribute(const std::string& folder,
                                                          std::string_view attribute) {
    ReadBuffer& text = scratch();
    if (!files_.read(Fs::sys, folder + "/" + std::string(attribute), text)) return std::nullopt;
    const std::string_view value = trim(text.view());
    if (value.empty()) return std::nullopt;
    return std::string(value);
}

std::optional<bool> LinuxPlatform::externalPowerOnline() {
    std::vector<std::string> supplies;
    files_.forEachEntry(Fs::sys, "class/power_supply",
                        [&](std::string_view name) { supplies.emplace_back(name); });
    std::optional<bool> online;
    for (const std::string& name : supplies) {
        const std::string folder = "class/power_supply/" + name;
        const auto type = supplyAttribute(folder, "type");
        if (type != "Mains" && type != "USB") continue;
        const auto value = supplyAttribute(folder, "online");
        if (!value) continue;
        online = online.value_or(false) || parseSigned(*value).value_or(0) == 1;
    }
    return online;
}

io_service_t LinuxPlatform::IOServiceGetMatchingService(std::string_view name) {
    if (name != "AppleSmartBattery") return 0;
    std::vector<std::string> supplies;
    files_.forEachEntry(Fs::sys, "class/power_supply",
                        [&](std::string_view entry) { supplies.emplace_back(entry); });
    std::sort(supplies.begin(), supplies.end());
    // The machine's battery is a supply of type Battery whose scope is not Device: a
    // mouse or headset battery is the peripheral's, whatever it is called.
    for (const std::string& supply : supplies) {
        const std::string folder = "class/power_supply/" + supply;
        if (supplyAttribute(folder, "type") != "Battery") continue;
        if (supplyAttribute(folder, "scope") == "Device") continue;
        std::lock_guard lock(servicesMutex_);
        const io_service_t handle = nextService_++;
        if (nextService_ == 0) nextService_ = 1;
        services_.emplace(handle, folder);
        return handle;
    }
    return 0;
}

std::optional<PropertyValue> LinuxPlatform::IORegistryEntryCreateCFProperty(io_service_t service,
                                                                            std::string_view key) {
    std::string folder;
    {
        std::lock_guard lock(servicesMutex_);
        const auto it = services_.find(service);
        if (it == services_.end()) return std::nullopt;
        folder = it->second;
    }
    const SupplyAttribute attribute = [&](std::string_view name) {
        return supplyAttribute(folder, name);
    };
    return batteryProperty(key, attribute, [&] { return externalPowerOnline(); });
}

IOReturn LinuxPlatform::IOObjectRelease(io_object_t object) {
    std::lock_guard lock(servicesMutex_);
    return services_.erase(object) == 1 ? kIOReturnSuccess : kIOReturnBadArgument;
}

namespace {

// "PID/name" without allocating: a process list reads three files per process.
struct ProcessPath {
    char text[48];
    ProcessPath(std::int32_t pid, const char* name) {
        std::snprintf(text, sizeof text, "%d/%s", int(pid), name);
    }
};

// One read of the start of a procfs file into a caller's buffer; what the process list
// needs of stat and status lies well within the first 4 KiB.
std::optional<std::string_view> readStart(int dir, const char* path, char* buffer,
                                          std::size_t size) {
    const int fd = ::openat(dir, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0) return std::nullopt;
    return std::string_view(buffer, std::size_t(n));
}

}  // namespace

bool LinuxPlatform::listProcesses(std::vector<std::int32_t>& pids) {
    pids.clear();
    {
        std::lock_guard lock(cpuTypesMutex_);
        cpuTypes_.clear();
    }
    const int root = files_.rootDescriptor(Fs::proc);
    if (root < 0) return false;
    const int fd = ::openat(root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const auto pid = parseUnsigned(entry->d_name);
        if (pid && *pid <= INT32_MAX) pids.push_back(std::int32_t(*pid));
    }
    ::closedir(dir);
    return true;
}

std::optional<kinfo_proc> LinuxPlatform::processInfo(std::int32_t pid) {
    const int root = files_.rootDescriptor(Fs::proc);
    char buffer[4096];
    kinfo_proc info;
    const auto stat = readStart(root, ProcessPath(pid, "stat").text, buffer, sizeof buffer);
    if (!stat || !parseProcessStat(*stat, info)) return std::nullopt;
    // Kernel threads always run as root; their status need not be generated to say so.
    constexpr std::uint32_t PF_KTHREAD = 0x00200000;
    if (info.p_flag & PF_KTHREAD) return info;
    const auto status = readStart(root, ProcessPath(pid, "status").text, buffer, sizeof buffer);
    const auto uid = status ? parseEffectiveUid(*status) : std::nullopt;
    if (!uid) return std::nullopt;
    info.cr_uid = *uid;
    return info;
}

std::optional<cpu_type_t> LinuxPlatform::processCpuType(std::int32_t pid) {
    // Kernel threads have no executable, and another user's is not ours to open: both
    // fail here and read as no CPU type.
    const int root = files_.rootDescriptor(Fs::proc);
    const ProcessPath exe(pid, "exe");
    char target[4096];
    ssize_t length = ::readlinkat(root, exe.text, target, sizeof target);
    if (length < 0 && errno == EINVAL) length = 0;  // not a link (a copied tree): no cache
    if (length < 0) return std::nullopt;
    const std::string_view path(target, std::size_t(length));
    if (length > 0) {
        std::lock_guard lock(cpuTypesMutex_);
        if (const auto it = cpuTypes_.find(path); it != cpuTypes_.end()) return it->second;
    }
    const int fd = ::openat(root, exe.text, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    char header[20];
    const ssize_t n = ::pread(fd, header, sizeof header, 0);
    ::close(fd);
    std::optional<cpu_type_t> type;
    if (n == ssize_t(sizeof header)) type = cpuTypeOfElf(std::string_view(header, sizeof header));
    // A path the kernel marks deleted may name different files in different processes.
    if (length > 0 && !path.ends_with(" (deleted)") && length < ssize_t(sizeof target)) {
        std::lock_guard lock(cpuTypesMutex_);
        cpuTypes_.emplace(path, type);
    }
    return type;
}

}  // namespace quillo
