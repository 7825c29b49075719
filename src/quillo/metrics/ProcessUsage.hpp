#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "quillo/platform/Platform.hpp"

namespace quillo {

// One process's use of the machine, as top and ps show it.
struct ProcessUsage {
    std::int64_t pid = 0;
    std::int64_t uid = 0;         // effective
    std::string user;             // the user's name, or the uid in digits when it has none
    std::string command;          // the short name, at most 16 bytes, invalid UTF-8 replaced
    double cpu = 0;               // percent of one core since the previous sample: 400 is four busy
    std::uint64_t rss = 0;        // resident memory, bytes
    std::uint64_t startTime = 0;  // clock ticks after boot: with the pid, which process it is
};

// User names by uid, each looked up once: a listing has a few users and many processes.
class UserNames {
  public:
    const std::string& operator()(std::int64_t uid);

  private:
    std::map<std::int64_t, std::string> names_;
};

// Every process with its CPU use over the time since this reader's previous sample,
// which it keeps by pid and start time: a pid the kernel has given to another process
// since starts afresh. A process that started since the previous sample counts all its
// CPU time as spent in the interval, as top does; on a reader's first sample every
// process reads 0 %.
class ProcessUsageReader {
  public:
    using Clock = std::chrono::steady_clock;

    std::vector<ProcessUsage> sample() { return sample(Clock::now()); }
    std::vector<ProcessUsage> sample(Clock::time_point now);

    // Whether a sample has been taken, so that the next one has CPU figures.
    bool primed() const { return primed_; }
    // Forgets the previous sample, as if the reader were new.
    void reset();

  private:
    struct Seen {
        std::uint64_t startTime;
        std::uint64_t cpuNanoseconds;
    };
    std::unordered_map<std::int32_t, Seen> previous_, current_;
    std::vector<ProcessUsageSample> raw_;
    Clock::time_point previousAt_;
    bool primed_ = false;
    UserNames users_;
};

enum class UsageOrder { cpu, memory };

// The count busiest by order, busiest first; ties go to the lower pid.
std::vector<ProcessUsage> busiest(std::vector<ProcessUsage> processes, UsageOrder order,
                                  std::size_t count);

// The processes of one cgroup together, as systemd-cgtop shows them.
struct UnitUsage {
    std::string unit;  // the cgroup's path ("/system.slice/nginx.service"), "?" where unknown
    std::size_t processes = 0;
    double cpu = 0;         // percent of one core, summed
    std::uint64_t rss = 0;  // bytes, summed: pages shared between processes count twice
};
// The count busiest units by order, busiest first; ties go to the unit's name. unitOf
// gives a process's cgroup.
std::vector<UnitUsage> busiestUnits(
    const std::vector<ProcessUsage>& processes,
    const std::function<std::optional<std::string>(std::int64_t)>& unitOf, UsageOrder order,
    std::size_t count);

}  // namespace quillo
