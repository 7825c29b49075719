#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "quillo/platform/Records.hpp"
#include "quillo/platform/linux/FileReader.hpp"

namespace quillo {

// The processors: procfs stat and loadavg, the sysfs CPU lists, topology and cpufreq,
// and the cgroup v2 quota of this process.

// The aggregate cpu line of procfs stat, in clock ticks (USER_HZ), as the kernel
// counts them; guest time is part of user and nice.
struct CpuTimes {
    std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                  steal = 0;
};
// The record's four 32-bit states: system counts interrupts and steal, idle counts I/O wait.
host_cpu_load_info loadInfoFrom(const CpuTimes& times);

// procfs stat. The parse reads no further than the lines it is asked for need.
struct ProcStat {
    enum Part : unsigned { aggregate = 1, btime = 2, perCpu = 4, all = 7 };
    std::optional<CpuTimes> cpu;           // the aggregate "cpu " line
    std::optional<std::int64_t> bootTime;  // "btime"
    struct Line {
        int number = 0;
        std::optional<CpuTimes> times;  // absent where the line's columns are damaged
    };
    std::vector<Line> cpus;  // the per-CPU lines, in the file's order
};
ProcStat parseProcStat(std::string_view text, unsigned want = ProcStat::all);

// procfs loadavg: "0.21 0.37 0.39 1/719 19737".
struct LoadAvg {
    double averages[3] = {0.0, 0.0, 0.0};
    int count = 0;                        // leading averages that parsed
    std::optional<std::int64_t> threads;  // after the slash of the fourth field
};
LoadAvg parseLoadAvg(std::string_view text);
host_load_info hostLoadFrom(const LoadAvg& load, int onlineCpus);

// No kernel is built for more CPUs than this (CONFIG_NR_CPUS tops out at 8192): a list
// naming more is damage, and is refused before anything is allocated for it.
inline constexpr std::size_t maximumCpus = 8192;

// A sysfs CPU list such as "0-3,8,10-11"; absent when malformed or naming more than
// maximumCpus CPUs in all.
std::optional<std::vector<int>> parseCpuList(std::string_view text);

// cgroup v2 cpu.max: the quota in CPUs ("200000 100000" is 2.0); absent for "max".
std::optional<double> parseCgroupCpuMax(std::string_view text);

class CpuFiles {
  public:
    explicit CpuFiles(FileReader& files) : files_(files) {}

    ProcStat stat(unsigned want);
    host_cpu_load_info loadInfo();
    std::optional<std::int64_t> bootTime();
    LoadAvg loadAverage();

    // The online CPUs by number; from the per-CPU lines of procfs stat where sysfs
    // does not say, as those lines list the online CPUs too.
    std::vector<int> onlineCpus();
    // Fills the CPU fields of the basic record.
    void fillBasicInfo(host_basic_info& info);
    void fillBasicInfo(host_basic_info& info, const std::vector<int>& online);
    std::optional<CPUPowerStatus> powerStatus();
    CPUPowerStatus powerStatus(const std::vector<int>& online);

  private:
    std::optional<double> speedLimit(const std::vector<int>& cpus);
    std::optional<double> cgroupQuotaCpus();

    FileReader& files_;

    // Topology changes only when CPUs come or go, so the core count is kept for as long
    // as the online list stays the same; the possible CPUs are fixed at boot.
    std::mutex topologyMutex_;
    std::vector<int> coresCountedFor_;
    std::int32_t physicalCores_ = 0;
    std::optional<std::int32_t> possibleCpus_;
};

}  // namespace quillo
