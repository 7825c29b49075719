#include "quillo/metrics/Sample.hpp"

#include <algorithm>
#include <cmath>

namespace quillo {

namespace {

std::optional<double> number(const std::optional<PropertyValue>& v) {
    if (!v) return std::nullopt;
    if (const auto* i = std::get_if<std::int64_t>(&*v)) return double(*i);
    if (const auto* d = std::get_if<double>(&*v)) return *d;
    if (const auto* b = std::get_if<bool>(&*v)) return *b ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<bool> flag(const std::optional<PropertyValue>& v) {
    const auto n = number(v);
    if (!n) return std::nullopt;
    return *n != 0;
}

std::optional<double> finite(std::optional<double> v) {
    return v && std::isfinite(*v) ? v : std::nullopt;
}

Sample::Battery batteryFrom(const PowerSupplySnapshot& b) {
    const auto property = [&](std::string_view key) { return number(batteryProperty(key, b)); };
    Sample::Battery out;
    out.name = b.name;
    const auto now = property("CurrentCapacity");
    const auto full = property("MaxCapacity");
    const auto design = property("DesignCapacity");
    if (now && full && *full > 0) {
        out.chargeRatio = finite(*now / *full);
        out.chargePercent = finite(*now * 100.0 / *full);
    }
    if (full && design && *design > 0) out.healthRatio = finite(*full / *design);
    out.cycles = property("CycleCount");
    if (b.temp) out.temperatureCelsius = double(*b.temp) / 10.0;
    if (const auto minutes = property("TimeRemaining")) out.timeRemainingSeconds = *minutes * 60.0;
    out.powerWatts = property("Watts");
    out.charging = flag(batteryProperty("IsCharging", b));
    out.externalPower = flag(batteryProperty("ExternalConnected", b));
    return out;
}

}  // namespace

std::optional<double> perSecond(std::optional<std::uint64_t> before,
                                std::optional<std::uint64_t> after, double seconds) {
    // A counter that went back was reset (a device replaced, a wrap): no rate this time.
    if (!before || !after || *after < *before || seconds <= 0) return std::nullopt;
    return double(*after - *before) / seconds;
}

std::optional<double> cpuUsedRatio(const CpuTimes& before, const CpuTimes& after) {
    const auto busy = [](const CpuTimes& c) {
        return double(c.user + c.nice + c.system + c.irq + c.softirq + c.steal);
    };
    const double work = busy(after) - busy(before);
    const double rest = double(after.idle + after.iowait) - double(before.idle + before.iowait);
    if (work < 0 || rest < 0 || work + rest <= 0) return std::nullopt;
    return work / (work + rest);
}

std::optional<CpuTimes> Sampler::startInterval() {
    earlier_ = platform_.cpu().stat(ProcStat::aggregate).cpu;
    return earlier_;
}

Sample Sampler::take(const LinuxPlatform::DefaultRoutes* known, unsigned parts) {
    Sample s;
    CpuFiles& cpu = platform_.cpu();
    if (parts & (Sample::Part::cpu | Sample::Part::cores | Sample::Part::system)) {
        const ProcStat stat =
            cpu.stat(ProcStat::aggregate | ProcStat::btime |
                     (parts & Sample::Part::cores ? unsigned(ProcStat::perCpu) : 0u));
        s.cpu.times = stat.cpu;
        if (earlier_ && stat.cpu) s.cpu.usedRatio = cpuUsedRatio(*earlier_, *stat.cpu);
        earlier_ = stat.cpu;
        s.bootTime = stat.bootTime;
        if (parts & Sample::Part::cores) takeCores(s.cpu.cores, stat.cpus);
    }

    if (parts & Sample::Part::cpu) {
        const std::vector<int> online = cpu.onlineCpus();
        host_basic_info basic;
        cpu.fillBasicInfo(basic, online);
        if (basic.logical_cpu > 0) s.cpu.logical = basic.logical_cpu;
        if (basic.physical_cpu > 0) s.cpu.physical = basic.physical_cpu;
        const CPUPowerStatus power = cpu.powerStatus(online);
        if (const auto it = power.find(kIOPMCPUPowerLimitProcessorSpeedKey); it != power.end())
            s.cpu.speedLimitRatio = it->second / 100.0;
        s.cpu.schedulerLimitRatio = power.at(kIOPMCPUPowerLimitSchedulerTimeKey) / 100.0;
    }
    if (parts & Sample::Part::system) {
        if (const LoadAvg load = cpu.loadAverage(); load.count == 3) s.load = load;
    }

    const auto info = parts & (Sample::Part::memory | Sample::Part::swap)
                          ? platform_.memory().info()
                          : std::optional<MemInfo>();
    if (info && (parts & Sample::Part::memory)) {
        if (const auto parts = memoryPartsFrom(*info)) {
            Sample::Memory& m = s.memory.emplace();
            m.totalBytes = std::min(*info->memTotal, maximumKilobytes) * 1024;
            m.parts = *parts;
            // Through the percentage, as the exporter has always computed it, so that the
            // digits it publishes stay the same.
            if (m.totalBytes > 0)
                m.usedRatio = 100.0 * double(parts->active + parts->wired + parts->compressed) *
                              1024.0 / double(m.totalBytes) / 100.0;
        }
    }

    if (parts & Sample::Part::swap) takeSwap(s.swap, info);

    if (parts & Sample::Part::disk) {
        if (const auto root = volumeSpace("/")) {
            Sample::Disk& disk = s.disk.emplace();
            disk.space = *root;
            if (const FileSystemAttributes df = dfAttributes(*root); df.size > 0)
                disk.usedRatio = double(df.size - df.freeSize) * 100.0 / double(df.size) / 100.0;
        }
    }

    if (parts & Sample::Part::network) takeNetwork(s, known);
    if (parts & Sample::Part::system) {
        s.processes = platform_.processes().count();
        s.thermalLevel = thermalLevelOf(platform_.thermal().zones());
    }
    if (parts & Sample::Part::power) {
        for (const PowerSupplySnapshot& b : platform_.power().machineBatteries())
            s.batteries.push_back(batteryFrom(b));
    }
    // Before the machine's pressure: where the cgroup's is shown, the machine's is not read.
    takeCgroup(s, parts);
    if ((parts & Sample::Part::pressure) && s.pressure.empty()) {
        for (const std::string_view resource : pressureResources) {
            if (auto stall = platform_.activity().pressure(resource))
                s.pressure.push_back({resource, *stall});
        }
    }
    if (parts & Sample::Part::diskIo) takeDisks(s);
    if (parts & Sample::Part::fileSystems) takeFileSystems(s);
    if (parts & Sample::Part::sensors) {
        SensorFiles::Readings readings = platform_.sensors().read();
        s.temperatures = std::move(readings.temperatures);
        s.fans = std::move(readings.fans);
    }
    return s;
}

void Sampler::takeCgroup(Sample& s, unsigned parts) {
    const bool view = platform_.cgroupView();
    unsigned read = 0;
    if ((parts & Sample::Part::cgroup) || (view && (parts & Sample::Part::memory)))
        read |= CgroupFiles::memory;
    if ((parts & Sample::Part::cgroup) || (view && (parts & Sample::Part::cpu)))
        read |= CgroupFiles::cpu;
    if (view && (parts & Sample::Part::pressure)) read |= CgroupFiles::pressure;
    if (read == 0) return;
    const auto r = platform_.cgroup().read(read);
    if (!r) return;
    SampleCgroup& c = s.cgroup.emplace();
    c.path = r->path;
    c.cpuLimitCores = r->cpuLimitCores;
    if (r->memoryLimitBytes) {
        c.memoryLimitBytes = r->memoryLimitBytes;
        c.memoryUsedBytes = r->memoryUsedBytes();
    }
    if (r->cpuUsageNs) {
        c.cpuSeconds = double(*r->cpuUsageNs) / 1e9;
        if (r->cpuLimitCores)
            c.cpuUsedRatio = cgroupShare_.next(*r->cpuUsageNs, *r->cpuLimitCores,
                                               std::chrono::steady_clock::now());
    }
    c.throttledPeriods = r->throttledPeriods;
    if (r->throttledNs) c.throttledSeconds = double(*r->throttledNs) / 1e9;
    if (!view) return;
    if (const auto memoryParts = r->memoryParts(); memoryParts && (parts & Sample::Part::memory)) {
        Sample::Memory& m = s.memory.emplace();
        m.totalBytes = *r->memoryLimitBytes / 1024 * 1024;
        m.parts = *memoryParts;
        if (m.totalBytes > 0)
            m.usedRatio =
                double(memoryParts->active + memoryParts->wired + memoryParts->compressed) *
                1024.0 / double(m.totalBytes);
    }
    if (r->cpuLimitCores && (parts & Sample::Part::cpu)) s.cpu.usedRatio = c.cpuUsedRatio;
    if (!r->pressure.empty()) {
        for (const auto& [resource, stall] : r->pressure) s.pressure.push_back({resource, stall});
    }
}

void Sampler::takeFileSystems(Sample& s) {
    const std::vector<MountEntry> all = platform_.activity().mounts();
    const std::vector<MountEntry> mounts = dfMounts(all);
    std::vector<std::string> paths;
    for (const MountEntry& m : mounts) paths.push_back(m.mountPoint);
    if (!probe_) probe_ = std::make_unique<SpaceProbe>();
    const std::vector<SpaceProbe::Answer> answers =
        platform_.readsTheKernel() ? probe_->measure(paths, answersFromMemory(mounts, all))
                                   : std::vector<SpaceProbe::Answer>(paths.size());
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        // df leaves out what has no blocks at all (cgroup, tracefs and their kin).
        if (answers[i].space && answers[i].space->size == 0) continue;
        Sample::FileSystem& fs = s.fileSystems.emplace_back();
        fs.mountPoint = mounts[i].mountPoint;
        fs.device = mounts[i].source;
        fs.fsType = mounts[i].fsType;
        fs.space = answers[i].space;
        fs.stale = answers[i].stale;
        if (fs.space) {
            if (const FileSystemAttributes df = dfAttributes(*fs.space); df.size > 0)
                fs.usedRatio = double(df.size - df.freeSize) / double(df.size);
        }
    }
}

void Sampler::takeDisks(Sample& s) {
    const auto at = std::chrono::steady_clock::now();
    std::vector<DiskCounters> now = platform_.activity().disks();
    const double seconds =
        earlierDisks_.empty() ? 0 : std::chrono::duration<double>(at - disksAt_).count();
    double read = 0, written = 0;
    bool rated = false;
    for (const DiskCounters& d : now) {
        const DiskKind kind = diskKind(d.name);
        if (kind != DiskKind::whole && kind != DiskKind::stacked) continue;
        Sample::DiskIo& io = s.disks.emplace_back();
        io.device = d.name;
        io.kind = kind;
        io.readBytes = d.sectorsRead * 512;
        io.writtenBytes = d.sectorsWritten * 512;
        // As node_exporter scales it, so that the two agree to the last digit.
        io.ioSeconds = double(d.ioMilliseconds) * 0.001;
        const auto before = std::find_if(earlierDisks_.begin(), earlierDisks_.end(),
                                         [&](const DiskCounters& e) { return e.name == d.name; });
        if (before == earlierDisks_.end()) continue;
        io.readBytesPerSecond = perSecond(before->sectorsRead * 512, io.readBytes, seconds);
        io.writtenBytesPerSecond =
            perSecond(before->sectorsWritten * 512, io.writtenBytes, seconds);
        if (kind == DiskKind::whole && io.readBytesPerSecond && io.writtenBytesPerSecond) {
            read += *io.readBytesPerSecond;
            written += *io.writtenBytesPerSecond;
            rated = true;
        }
    }
    if (rated) {
        s.diskReadBytesPerSecond = read;
        s.diskWrittenBytesPerSecond = written;
    }
    earlierDisks_ = std::move(now);
    disksAt_ = at;
}

void Sampler::takeCores(std::vector<Sample::Core>& cores,
                        const std::vector<ProcStat::Line>& lines) {
    for (const ProcStat::Line& line : lines) {
        if (!line.times) continue;
        Sample::Core& core = cores.emplace_back(Sample::Core{line.number, *line.times, {}});
        // CPUs come and go, so the earlier reading is found by number, not by place.
        const auto before =
            std::find_if(earlierCores_.begin(), earlierCores_.end(),
                         [&](const ProcStat::Line& l) { return l.number == line.number; });
        if (before != earlierCores_.end() && before->times)
            core.usedRatio = cpuUsedRatio(*before->times, *line.times);
    }
    earlierCores_ = lines;
}

void Sampler::takeSwap(std::optional<Sample::Swap>& out, const std::optional<MemInfo>& info) {
    const auto at = std::chrono::steady_clock::now();
    const SwapActivity activity = platform_.memory().swapActivity();
    const double seconds =
        swapCounters_ ? std::chrono::duration<double>(at - swapCounters_->first).count() : 0;
    const std::optional<SwapActivity> before =
        swapCounters_ ? std::optional(swapCounters_->second) : std::nullopt;
    swapCounters_.emplace(at, activity);
    if (!info || !info->swapTotal) return;

    Sample::Swap& swap = out.emplace();
    const std::uint64_t total = std::min(*info->swapTotal, maximumKilobytes);
    const std::uint64_t free = info->swapFree.value_or(total);
    swap.totalBytes = total * 1024;
    swap.usedBytes = (total - std::min(free, total)) * 1024;
    if (total > 0) swap.usedRatio = double(swap.usedBytes) / double(swap.totalBytes);
    swap.pagesIn = activity.pagesIn;
    swap.pagesOut = activity.pagesOut;
    if (before) {
        swap.pagesInPerSecond = perSecond(before->pagesIn, activity.pagesIn, seconds);
        swap.pagesOutPerSecond = perSecond(before->pagesOut, activity.pagesOut, seconds);
    }
}

void Sampler::takeNetwork(Sample& s, const LinuxPlatform::DefaultRoutes* known) {
    NetworkFiles& network = platform_.network();
    if (known) {
        s.ipv4 = known->ipv4;
        s.ipv6 = known->ipv6;
    } else {
        s.ipv4 = network.defaultRoute(true);
        s.ipv6 = network.defaultRoute(false);
    }
    // The bound is on what is kept, not on the primary interfaces: past it, the lines of
    // the default routes' interfaces are still taken (net/dev itself is bounded in size).
    const auto primary = [&](std::string_view name) {
        return (s.ipv4 && s.ipv4->interface == name) || (s.ipv6 && s.ipv6->interface == name);
    };
    network.walkCounters([&](std::string_view name, const NetDevCounters& c) {
        if (s.interfaces.size() < Sample::maximumInterfaces || primary(name)) {
            s.interfaces.push_back({std::string(name),
                                    c.received,
                                    c.sent,
                                    c.receiveErrors,
                                    c.receiveDrops,
                                    c.transmitErrors,
                                    c.transmitDrops,
                                    {},
                                    {}});
        }
        return true;
    });
    // Rates by name: an interface that came or went has none this time.
    const auto at = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(at - interfacesAt_).count();
    std::vector<std::pair<std::string, std::pair<std::uint64_t, std::uint64_t>>> now;
    now.reserve(s.interfaces.size());
    for (Sample::Interface& i : s.interfaces) {
        const auto before = std::find_if(earlierInterfaces_.begin(), earlierInterfaces_.end(),
                                         [&](const auto& e) { return e.first == i.name; });
        if (before != earlierInterfaces_.end()) {
            i.receivedPerSecond = perSecond(before->second.first, i.received, seconds);
            i.sentPerSecond = perSecond(before->second.second, i.sent, seconds);
        }
        now.push_back({i.name, {i.received, i.sent}});
    }
    earlierInterfaces_ = std::move(now);
    interfacesAt_ = at;
}

}  // namespace quillo
