#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillo/platform/linux/Activity.hpp"
#include "quillo/platform/linux/FileReader.hpp"
#include "quillo/platform/linux/Memory.hpp"

namespace quillo {

// The limits a cgroup puts on this process: found from procfs self/cgroup and the cgroup
// mounts in self/mountinfo, read from those mounts under the sysfs root (a mount at
// /sys/fs/cgroup is read at SYSFS/fs/cgroup). cgroup v2, and v1's memory, cpu, cpuacct
// and cpuset controllers, each from the hierarchy that holds it.
//
// Of the cgroup and its ancestors, the one with the smallest limit is the one that
// applies: its usage counts against it, siblings included. A limit at or above what the
// machine has is no limit.

// A cgroup's figures at one moment.
struct CgroupReading {
    std::string path;  // as self/cgroup writes it: the cgroup whose limit applies
    std::optional<std::uint64_t> memoryLimitBytes;
    std::uint64_t memoryUsageBytes = 0;  // memory.current, or usage_in_bytes
    // From memory.stat: the cache given back first, what cannot be reclaimed, and zswap.
    std::uint64_t inactiveFileBytes = 0, wiredBytes = 0, zswapBytes = 0;
    std::optional<double> cpuLimitCores;      // quota ÷ period, or the cpuset's CPUs
    std::optional<std::uint64_t> cpuUsageNs;  // the cgroup's CPU time
    std::optional<std::uint64_t> throttledPeriods, throttledNs;
    // The cgroup's own pressure, where cgroup v2 accounts it; by pressureResources.
    std::vector<std::pair<std::string_view, Pressure>> pressure;

    bool limited() const { return memoryLimitBytes || cpuLimitCores; }
    // Usage less the inactive file cache, as docker stats counts it.
    std::uint64_t memoryUsedBytes() const;
    // The limit in the five parts the machine's memory is shown in, in kB: free is the
    // limit less the usage, inactive the inactive file cache, wired and compressed as
    // memory.stat tells them, active the rest of used. Absent without a memory limit.
    std::optional<MemoryParts> memoryParts() const;
};

// A line of self/cgroup: "4:memory:/docker/1f2e", "0::/user.slice".
struct CgroupMembership {
    std::string controllers;  // empty for v2
    std::string path;
    bool v2() const { return controllers.empty(); }
};
// Named v1 hierarchies (name=systemd), which hold no controller, only where asked for.
std::vector<CgroupMembership> parseCgroupMembership(std::string_view text, bool named = false);

// The share of its limit that a cgroup's CPU time took between two readings; absent on
// the first, when no time passed or the counter went back.
class CgroupCpuShare {
  public:
    using Clock = std::chrono::steady_clock;
    std::optional<double> next(std::uint64_t usageNs, double cores, Clock::time_point now);

  private:
    std::optional<std::pair<std::uint64_t, Clock::time_point>> last_;
};

class CpuFiles;

class CgroupFiles {
  public:
    // The machine's memory and CPUs, which a limit must be below to be one.
    CgroupFiles(FileReader& files, MemoryFiles& memory, CpuFiles& cpu)
        : files_(files), memory_(memory), cpu_(cpu) {}

    // "auto": this process's cgroups; "host": none; else a cgroup path as self/cgroup
    // writes it ("/system.slice/foo.service"), looked for in every hierarchy.
    void choose(std::string choice);
    const std::string& choice() const { return choice_; }
    // Whether a chosen path is a cgroup here (auto and host always are).
    bool exists();

    // The chosen cgroup's figures where a limit applies, absent otherwise; only the
    // parts asked for are read (a file or two each). The limits are looked for again
    // once a minute, as a container's may be changed while it runs.
    enum Part : unsigned { memory = 1, cpu = 2, pressure = 4 };
    std::optional<CgroupReading> read(unsigned parts);
    // The limits alone, as last looked for.
    std::optional<std::uint64_t> memoryLimit();
    std::optional<double> cpuLimit();

  private:
    // Where a controller's cgroup is: a folder under the sysfs root, and its path.
    struct Place {
        std::string folder, path;
        int version = 2;
    };
    struct Places {
        std::optional<Place> memory, cpu, cpuacct, v2;  // v2: for the pressure files
        std::optional<std::uint64_t> memoryLimit;
        std::optional<double> cpuLimit;
    };
    const Places& places();
    std::optional<CgroupReading> readNow(const Places& at, unsigned parts);
    void discover();
    // This process's cgroups and the machine's mounts, read once for a discovery.
    struct Hierarchies;
    std::optional<Hierarchies> hierarchies();
    std::vector<Place> chain(const Hierarchies& h, std::string_view controller) const;

    FileReader& files_;
    MemoryFiles& memory_;
    CpuFiles& cpu_;
    std::string choice_ = "host";
    std::optional<Places> places_;
    std::chrono::steady_clock::time_point discovered_{};
    // The last reading: the panel's records and its recorder ask within the same tick.
    std::optional<CgroupReading> last_;
    unsigned lastParts_ = 0, wanted_ = 0;
    std::chrono::steady_clock::time_point lastAt_{};
};

}  // namespace quillo
