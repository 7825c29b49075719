#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quillo/platform/IOReturn.hpp"
#include "quillo/platform/Records.hpp"

namespace quillo {

// The thermal warning level, by its published name.
enum class ThermalLevel { Normal, Danger, Crisis, NotPublished, Unknown };
std::string_view rawValue(ThermalLevel level);
std::optional<ThermalLevel> thermalLevelFromRawValue(std::string_view raw);

// The machine's own state. Every operation but usageCPU is static and keeps no state;
// usageCPU reports the processors' time since the tick sample kept in loadPrevious.
// The readers go through the current platform and never fail: a failed platform call
// reads as a zero record.
struct System {
    // Shares of the ticks since the previous sample, in percent.
    struct CPUUsage {
        double system = 0.0;
        double user = 0.0;
        double idle = 0.0;
        double nice = 0.0;
    };

    host_cpu_load_info loadPrevious{};
    // What usageCPU last answered: a failed read (an all-zero record, which no running
    // machine's counters give) repeats it, and the next good read measures from the last
    // good sample, so a failure never shows a figure made up from zero counters.
    CPUUsage lastUsage{0.0, 0.0, 100.0, 0.0};

    static System init() { return System{}; }

    CPUUsage usageCPU();

    // Byte units; the raw value divides a number of bytes.
    enum class Unit { byte, kilobyte, megabyte, gigabyte };
    static constexpr double rawValue(Unit unit) {
        switch (unit) {
            case Unit::byte:
                return 1.0;
            case Unit::kilobyte:
                return 1024.0;
            case Unit::megabyte:
                return 1048576.0;
            case Unit::gigabyte:
                return 1073741824.0;
        }
        return 1.0;
    }
    // Exactly one of the four divisors, or absent.
    static std::optional<Unit> unitFromRawValue(double raw);

    static std::uint64_t PAGE_SIZE();
    static double physicalMemory(Unit unit = Unit::gigabyte);

    // In gigabytes of 2^30 bytes.
    struct MemoryUsage {
        double free = 0.0;
        double active = 0.0;
        double inactive = 0.0;
        double wired = 0.0;
        double compressed = 0.0;
    };
    static MemoryUsage memoryUsage();

    // short: the host load record; long: getloadavg. (Trailing underscores: both names
    // are C++ keywords.)
    enum class LOAD_AVG { short_, long_ };
    static std::array<double, 3> loadAverage(LOAD_AVG type = LOAD_AVG::long_);
    static std::array<double, 3> machFactor();

    struct Uptime {
        std::int64_t days = 0;
        std::int64_t hrs = 0;
        std::int64_t mins = 0;
        std::int64_t secs = 0;
        friend bool operator==(const Uptime&, const Uptime&) = default;
    };
    static Uptime uptime();
    // Days, hours, minutes and seconds of a number of seconds, each truncated toward zero.
    static Uptime uptimeFromSeconds(std::int64_t seconds);

    struct ProcessCounts {
        std::int64_t processCount = 0;
        std::int64_t threadCount = 0;
    };
    static ProcessCounts processCounts();

    static std::string modelName();
    static std::int64_t physicalCores();
    static std::int64_t logicalCores();

    struct CPUPowerLimitResult {
        double processorSpeed = -1.0;
        std::int64_t processorCount = -1;
        double schedulerTime = -1.0;
    };
    // Each field is -1 where the power status cannot be had or lacks its key.
    static CPUPowerLimitResult CPUPowerLimit();
    static ThermalLevel thermalLevel();
};

}  // namespace quillo
