#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "quillo/platform/Records.hpp"
#include "quillo/platform/linux/FileReader.hpp"

namespace quillo {

// The machine itself: its model, its processor's architecture, and the kernel's fixed
// units, each looked up in one place.

// Bytes in a page of memory, as the kernel counts memory (sysconf, read once).
std::uint64_t pageSize();
// The kernel's clock ticks per second (USER_HZ), the unit of procfs times.
std::uint64_t clockTicksPerSecond();
// This machine's own CPU type, as the CPU-type constants give it.
cpu_type_t machineCpuType();
// The running program's own file, for the programs beside it; empty when unknown.
std::filesystem::path ownExecutable();

class MachineFiles {
  public:
    explicit MachineFiles(FileReader& files) : files_(files) {}

    // The product name of PC firmware (DMI), else the device tree's model; absent when
    // neither names one.
    std::optional<std::string> model();

  private:
    FileReader& files_;
};

}  // namespace quillo
