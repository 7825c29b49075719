#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillo/platform/linux/FileReader.hpp"
#include "quillo/platform/linux/Mounts.hpp"

namespace quillo {

// What the machine is waiting on and how much its disks move: procfs pressure/* and
// diskstats.

// One line of a pressure file: the share of time some (or all) non-idle tasks stalled,
// averaged over 10, 60 and 300 seconds in percent, and the total stall in microseconds.
struct PressureLine {
    double avg10 = 0, avg60 = 0, avg300 = 0;
    std::uint64_t totalMicroseconds = 0;
};
struct Pressure {
    std::optional<PressureLine> some, full;
};
// "some avg10=0.00 avg60=0.00 avg300=0.00 total=0" and its "full" line; a line that
// lacks a field, or whose field is no number, is absent.
Pressure parsePressure(std::string_view text);

// The resources the kernel reports pressure for, by their file names.
inline constexpr std::string_view pressureResources[] = {"cpu", "memory", "io"};

// One line of diskstats: a block device's counters since boot. Sectors are always 512
// bytes here, whatever the device's own sector size.
struct DiskCounters {
    std::string name;
    std::uint64_t sectorsRead = 0, sectorsWritten = 0;
    std::uint64_t ioMilliseconds = 0;  // time the device had I/O in flight
};
// Every line with the eleven counters that every kernel since 2.6 writes; later
// kernels' extra columns are ignored, and a damaged line is left out.
std::vector<DiskCounters> parseDiskStats(std::string_view text);

// What a device is, by its name: whole disks carry the machine's I/O; partitions and
// stacked devices (device mapper, software RAID) pass on what their disks also count,
// and loop, RAM, zram, floppy and optical devices are not disks.
enum class DiskKind { whole, partition, stacked, virtualDevice };
DiskKind diskKind(std::string_view name);

class ActivityFiles {
  public:
    explicit ActivityFiles(FileReader& files) : files_(files) {}

    // Absent where the kernel has no pressure accounting (before 4.20, or turned off).
    std::optional<Pressure> pressure(std::string_view resource);
    std::vector<DiskCounters> disks();
    // The mount table of the process reading it (self/mountinfo), which is its mount
    // namespace's.
    std::vector<MountEntry> mounts();

  private:
    FileReader& files_;
};

}  // namespace quillo
