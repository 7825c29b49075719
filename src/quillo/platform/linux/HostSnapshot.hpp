#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quillo/platform/Records.hpp"
#include "quillo/platform/linux/Cpu.hpp"
#include "quillo/platform/linux/FileSystem.hpp"
#include "quillo/platform/linux/Memory.hpp"
#include "quillo/platform/linux/Network.hpp"
#include "quillo/platform/linux/Power.hpp"

namespace quillo {

// Every figure of the machine, read in one pass that reads each file once: for a
// scraper that wants them all at one moment, where the panel's readers ask for one at a
// time. What cannot be read is absent (or empty), never a zero standing in for it.
struct HostSnapshot {
    struct Interface {
        std::string name;
        std::uint64_t received = 0, sent = 0;
    };

    std::optional<CpuTimes> cpu;
    std::optional<std::int64_t> bootTime;
    MemInfo memory;
    std::optional<LoadAvg> load;
    std::optional<std::size_t> processes;
    int logicalCpus = 0, physicalCpus = 0;
    // In net/dev's order: at most maximumInterfaces, and the default routes' own beyond.
    std::vector<Interface> interfaces;
    std::optional<DefaultRoute> ipv4, ipv6;
    std::optional<VolumeSpace> root;  // the start-up volume
    std::optional<std::uint32_t> thermalLevel;
    std::optional<double> speedLimitPercent;
    double schedulerLimitPercent = 100.0;
    std::vector<PowerSupplySnapshot> batteries;  // the machine's own, not a mouse's

    static constexpr std::size_t maximumInterfaces = 4096;
};

}  // namespace quillo
