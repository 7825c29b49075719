#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Records.hpp"

namespace quillo {

// Pure parsers of kernel text. Each takes a file's bytes and returns what it could
// read; a short line, an empty file or a non-numeric field yields absent values,
// never a guess and never an exception.

std::string_view trim(std::string_view text);
std::optional<std::uint64_t> parseUnsigned(std::string_view field);
std::optional<std::int64_t> parseSigned(std::string_view field);
std::optional<double> parseDecimal(std::string_view field);

// Calls f(field) for each run of non-blank characters; stops early when f returns false.
template <class F>
void forEachField(std::string_view line, F&& f) {
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start && !f(line.substr(start, i - start))) return;
    }
}

// Calls f(line) for each line, without its line feed.
template <class F>
void forEachLine(std::string_view text, F&& f) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (!f(text.substr(0, end))) return;
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

// procfs stat.
struct ProcStat {
    std::optional<host_cpu_load_info> cpu;  // the aggregate "cpu " line
    std::optional<std::int64_t> bootTime;   // "btime"
    std::vector<int> cpus;                  // the numbers of the per-CPU lines
};
ProcStat parseProcStat(std::string_view text);
// The same answers, each looking no further than it must: the aggregate line comes
// first, and btime is found without walking the per-CPU and interrupt lines.
std::optional<host_cpu_load_info> parseProcStatCpu(std::string_view text);
std::optional<std::int64_t> parseProcStatBootTime(std::string_view text);

// procfs meminfo, in kB as the kernel writes it.
struct MemInfo {
    std::optional<std::uint64_t> memTotal, memFree, active, inactive, unevictable, sUnreclaim,
        kernelStack, pageTables, zswap;
};
MemInfo parseMemInfo(std::string_view text);
std::optional<std::uint64_t> parseMemTotal(std::string_view text);
vm_statistics64 vmStatisticsFrom(const MemInfo& info, std::uint64_t pageSize);

// procfs loadavg: "0.21 0.37 0.39 1/719 19737".
struct LoadAvg {
    double averages[3] = {0.0, 0.0, 0.0};
    int count = 0;                        // leading averages that parsed
    std::optional<std::int64_t> threads;  // after the slash of the fourth field
};
LoadAvg parseLoadAvg(std::string_view text);
host_load_info hostLoadFrom(const LoadAvg& load, int onlineCpus);

// A sysfs CPU list such as "0-3,8,10-11"; absent when malformed.
std::optional<std::vector<int>> parseCpuList(std::string_view text);

// cgroup v2 cpu.max: the quota in CPUs ("200000 100000" is 2.0); absent for "max".
std::optional<double> parseCgroupCpuMax(std::string_view text);

// The cgroup v2 path of a process from its procfs cgroup file ("0::/user.slice").
std::optional<std::string_view> parseCgroupV2Path(std::string_view text);

// A thermal zone's trip points, in millidegrees Celsius.
struct ThermalTrip {
    std::string_view type;  // "critical", "hot", "passive", "active", ...
    std::int64_t temperature = 0;
};
// The warning level a zone at this temperature gives: 10 at or above a critical or hot
// trip, 5 at or above a passive one, 0 otherwise. Trips at or below 0 °C mark disabled
// trips and are ignored.
std::uint32_t thermalLevelOfZone(std::int64_t temperature, const std::vector<ThermalTrip>& trips);

// procfs net/dev: calls f(name, received bytes, sent bytes) for each well-formed
// interface line, in order, until f returns false. A line that is short, has a field
// that is not a number or has no colon is not an interface line and is skipped.
template <class F>
void forEachNetDevLine(std::string_view text, F&& f);
bool parseNetDevLine(std::string_view line, std::string_view& name, std::uint64_t& received,
                     std::uint64_t& sent);

// The best default route of a family: up, not a reject route, not on lo, the lowest
// metric (the first of equals). The gateway is text, empty when the route has none.
struct DefaultRoute {
    std::string interface;
    std::string gateway;
    std::uint64_t metric = 0;
};
std::optional<DefaultRoute> parseIPv4DefaultRoute(std::string_view netRoute);
std::optional<DefaultRoute> parseIPv6DefaultRoute(std::string_view ipv6Route);

// procfs PID/stat: the command between the first "(" and the last ")" (a name may hold
// both), then the state letter mapped to the BSD states (R run; S, D, I sleep; T, t
// stopped; Z, X zombie; anything else 0), the parent and the process group.
bool parseProcessStat(std::string_view text, kinfo_proc& info);
// procfs PID/status: the effective user, the second field of "Uid:".
std::optional<std::uint32_t> parseEffectiveUid(std::string_view text);
// The CPU type of an ELF executable from the first 20 bytes of its header.
std::optional<cpu_type_t> cpuTypeOfElf(std::string_view header);

template <class F>
void forEachNetDevLine(std::string_view text, F&& f) {
    forEachLine(text, [&](std::string_view line) {
        std::string_view name;
        std::uint64_t received = 0, sent = 0;
        if (!parseNetDevLine(line, name, received, sent)) return true;
        return bool(f(name, received, sent));
    });
}

}  // namespace quillo
