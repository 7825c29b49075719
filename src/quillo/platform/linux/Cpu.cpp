#include "quillo/platform/linux/Cpu.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>

#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Text.hpp"
#include "quillo/platform/linux/Cgroup.hpp"
#include "quillo/platform/linux/Machine.hpp"

namespace quillo {

namespace {

// The aggregate line: user nice system idle iowait irq softirq steal guest guest_nice.
// Guest time is already part of user and nice, so it is not counted again.
std::optional<CpuTimes> parseCpuColumns(std::string_view rest) {
    std::uint64_t v[8] = {};
    int n = 0;
    bool numeric = true;
    forEachField(rest, [&](std::string_view field) {
        if (n == 8) return false;
        const auto value = parseUnsigned(field);
        if (!value) return numeric = false;
        v[n++] = *value;
        return true;
    });
    // Kernels before 2.6 wrote only the first four columns; fewer than that is damage.
    if (!numeric || n < 4) return std::nullopt;
    return CpuTimes{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
}

std::int32_t clampCount(std::size_t n) {
    return std::int32_t(std::min<std::size_t>(n, INT32_MAX));
}

}  // namespace

host_cpu_load_info loadInfoFrom(const CpuTimes& t) {
    const auto wrap = [](std::uint64_t ticks) { return static_cast<std::uint32_t>(ticks); };
    host_cpu_load_info info;
    info.cpu_ticks[CPU_STATE_USER] = wrap(t.user);
    info.cpu_ticks[CPU_STATE_NICE] = wrap(t.nice);
    info.cpu_ticks[CPU_STATE_SYSTEM] = wrap(t.system + t.irq + t.softirq + t.steal);
    info.cpu_ticks[CPU_STATE_IDLE] = wrap(t.idle + t.iowait);
    return info;
}

ProcStat parseProcStat(std::string_view text, unsigned want) {
    ProcStat stat;
    // The kernel writes each of these lines once; should one come twice, the first
    // counts. The aggregate line comes first, so a reader of it alone stops there.
    unsigned seen = 0;
    forEachLine(text, [&](std::string_view line) {
        if (line.starts_with("cpu ")) {
            if (!(seen & ProcStat::aggregate)) stat.cpu = parseCpuColumns(line.substr(4));
            seen |= ProcStat::aggregate;
        } else if (line.starts_with("cpu")) {
            if (!(want & ProcStat::perCpu)) return true;
            const auto end = line.find(' ');
            if (const auto n = parseUnsigned(line.substr(3, end == line.npos ? 0 : end - 3));
                n && *n < maximumCpus && stat.cpus.size() < maximumCpus) {
                stat.cpus.push_back({int(*n), parseCpuColumns(line.substr(end + 1))});
            }
        } else if (line.starts_with("btime ") && !(seen & ProcStat::btime)) {
            stat.bootTime = parseSigned(trim(line.substr(6)));
            seen |= ProcStat::btime;
        }
        // The per-CPU lines come before btime, so only they keep a reader going past it.
        return (want & ~seen & ~ProcStat::perCpu) != 0 || (want & ProcStat::perCpu);
    });
    return stat;
}

LoadAvg parseLoadAvg(std::string_view text) {
    LoadAvg load;
    int index = 0;
    bool averagesIntact = true;
    forEachField(trim(text), [&](std::string_view field) {
        if (index < 3) {
            const auto value = parseDecimal(field);
            if (value && averagesIntact) {
                load.averages[index] = *value;
                load.count = index + 1;
            } else {
                averagesIntact = false;
            }
        } else if (index == 3) {
            const auto slash = field.find('/');
            if (slash != std::string_view::npos)
                load.threads = parseSigned(field.substr(slash + 1));
            return false;
        }
        ++index;
        return true;
    });
    return load;
}

host_load_info hostLoadFrom(const LoadAvg& load, int onlineCpus) {
    host_load_info info;
    const double n = onlineCpus;
    for (int i = 0; i < 3; ++i) {
        const double l = load.averages[i];
        info.avenrun[i] = std::int32_t(std::lround(std::clamp(l * LOAD_SCALE, -2e9, 2e9)));
        // The Mach factor: the share of the CPUs left to a newcomer, in CPUs.
        const double factor = n > l ? (n - l) : n / (l + 1.0);
        info.mach_factor[i] = std::int32_t(std::lround(std::clamp(factor * LOAD_SCALE, -2e9, 2e9)));
    }
    return info;
}

std::optional<std::vector<int>> parseCpuList(std::string_view text) {
    text = trim(text);
    if (text.empty()) return std::nullopt;
    // Two passes: the first checks every range and counts the CPUs, so that a short
    // file naming millions of CPUs costs neither time nor memory.
    const auto walk = [&](auto&& emit) {
        std::string_view rest = text;
        for (;;) {
            const auto comma = rest.find(',');
            const std::string_view range = rest.substr(0, comma);
            const auto dash = range.find('-');
            const auto first = parseUnsigned(range.substr(0, dash));
            const auto last =
                dash == std::string_view::npos ? first : parseUnsigned(range.substr(dash + 1));
            if (!first || !last || *last < *first || *last >= maximumCpus) return false;
            if (!emit(*first, *last)) return false;
            if (comma == std::string_view::npos) return true;
            rest.remove_prefix(comma + 1);
        }
    };
    std::size_t total = 0;
    const bool valid = walk([&](std::uint64_t first, std::uint64_t last) {
        total += last - first + 1;
        return total <= maximumCpus;
    });
    if (!valid) return std::nullopt;
    std::vector<int> cpus;
    cpus.reserve(total);
    walk([&](std::uint64_t first, std::uint64_t last) {
        for (auto c = first; c <= last; ++c) cpus.push_back(int(c));
        return true;
    });
    return cpus;
}

std::optional<double> parseCgroupCpuMax(std::string_view text) {
    std::string_view fields[3];
    if (leadingFields(trim(text), fields) != 2) return std::nullopt;
    const auto quota = parseUnsigned(fields[0]);
    const auto period = parseUnsigned(fields[1]);
    if (!quota || !period || *period == 0) return std::nullopt;
    return double(*quota) / double(*period);
}

ProcStat CpuFiles::stat(unsigned want) {
    const auto text = files_.readTick(Fs::proc, "stat");
    if (!text) return {};
    ProcStat stat = parseProcStat(*text, want);
    if ((want & ProcStat::aggregate) && !stat.cpu)
        debug::note("stat", "no usable aggregate cpu line");
    if ((want & ProcStat::btime) && !stat.bootTime) debug::note("stat", "no usable btime line");
    return stat;
}

host_cpu_load_info CpuFiles::loadInfo() {
    const auto cpu = stat(ProcStat::aggregate).cpu;
    return cpu ? loadInfoFrom(*cpu) : host_cpu_load_info{};
}

std::optional<std::int64_t> CpuFiles::bootTime() {
    return stat(ProcStat::btime).bootTime;
}

LoadAvg CpuFiles::loadAverage() {
    const auto text = files_.readTick(Fs::proc, "loadavg");
    if (!text) return {};
    const LoadAvg load = parseLoadAvg(*text);
    if (load.count < 3) debug::note("loadavg", "fewer than three averages");
    return load;
}

std::vector<int> CpuFiles::onlineCpus() {
    if (const auto text = files_.readTick(Fs::sys, "devices/system/cpu/online")) {
        if (auto cpus = parseCpuList(*text)) return std::move(*cpus);
        debug::note("devices/system/cpu/online", "malformed");
    }
    std::vector<int> numbers;
    for (const ProcStat::Line& line : stat(ProcStat::perCpu).cpus) numbers.push_back(line.number);
    return numbers;
}

void CpuFiles::fillBasicInfo(host_basic_info& info) {
    fillBasicInfo(info, onlineCpus());
}

void CpuFiles::fillBasicInfo(host_basic_info& info, const std::vector<int>& online) {
    info.logical_cpu = info.logical_cpu_max = info.avail_cpus = clampCount(online.size());
    info.cpu_type = machineCpuType();

    std::lock_guard lock(topologyMutex_);
    ReadBuffer text;
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
            std::optional<std::int64_t> package, core;
            if (files_.readOnce(Fs::sys, base + "physical_package_id", text))
                package = parseSigned(trim(text.view()));
            if (files_.readOnce(Fs::sys, base + "core_id", text))
                core = parseSigned(trim(text.view()));
            if (!package || !core) {
                debug::note(base, "incomplete; physical cores are the logical count");
                complete = false;
                break;
            }
            cores.emplace(*package, *core);
        }
        physicalCores_ = complete ? clampCount(cores.size()) : info.logical_cpu;
        coresCountedFor_ = online;
    }
    info.physical_cpu = info.physical_cpu_max = physicalCores_;
}

std::optional<double> CpuFiles::speedLimit(const std::vector<int>& cpus) {
    std::optional<double> highest;
    ReadBuffer text;
    const auto number = [&](const std::string& path) -> std::optional<std::int64_t> {
        if (!files_.read(Fs::sys, path, text)) {
            debug::note(path, describe(text.failure()));
            return std::nullopt;
        }
        return parseSigned(trim(text.view()));
    };
    for (const int cpu : cpus) {
        const std::string base = "devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/";
        const auto limit = number(base + "scaling_max_freq");
        const auto hardware = number(base + "cpuinfo_max_freq");
        if (!limit || !hardware || *hardware <= 0 || *limit < 0) continue;
        const double percent = 100.0 * double(*limit) / double(*hardware);
        if (!highest || percent > *highest) highest = percent;
    }
    return highest;
}

std::optional<double> CpuFiles::cgroupQuotaCpus() {
    ReadBuffer text;
    if (!files_.read(Fs::proc, "self/cgroup", text)) return std::nullopt;
    const std::vector<CgroupMembership> members = parseCgroupMembership(text.view());
    const auto v2 = std::find_if(members.begin(), members.end(),
                                 [](const CgroupMembership& m) { return m.v2(); });
    if (v2 == members.end()) return std::nullopt;
    // The tightest quota on the way up to the root is the one the scheduler enforces.
    std::string dir = "fs/cgroup" + v2->path;
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    std::optional<double> tightest;
    ReadBuffer quotaText;
    for (;;) {
        if (files_.read(Fs::sys, dir + "/cpu.max", quotaText)) {
            if (const auto quota = parseCgroupCpuMax(quotaText.view());
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

std::optional<CPUPowerStatus> CpuFiles::powerStatus() {
    return powerStatus(onlineCpus());
}

CPUPowerStatus CpuFiles::powerStatus(const std::vector<int>& online) {
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

}  // namespace quillo
