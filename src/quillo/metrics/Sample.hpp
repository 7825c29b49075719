#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quillo/platform/linux/LinuxPlatform.hpp"

namespace quillo {

// The parts of a Sample, at namespace scope so that they are complete types where the
// sample holds them in optionals.
struct SampleCore {
    int cpu = 0;     // the logical CPU's number, as procfs stat names it
    CpuTimes times;  // since boot, in clock ticks
    std::optional<double> usedRatio;
};
struct SampleCpu {
    std::optional<CpuTimes> times;  // since boot, in clock ticks
    // Everything but idle and I/O wait, over the interval since the previous sample.
    std::optional<double> usedRatio;
    std::optional<int> logical, physical;   // online CPUs, and their cores
    std::optional<double> speedLimitRatio;  // highest allowed frequency over the hardware's
    double schedulerLimitRatio = 1.0;       // the CPU time the scheduler allows
    std::vector<SampleCore> cores;          // each online logical CPU, by number
};
struct SampleMemory {
    std::uint64_t totalBytes = 0;
    MemoryParts parts;  // in kB; together MemTotal
    // Active, wired and compressed over the total: free(1)'s used.
    double usedRatio = 0;
};
struct SampleSwap {
    std::uint64_t totalBytes = 0, usedBytes = 0;     // 0 of 0 where there is no swap
    std::optional<double> usedRatio;                 // absent where there is no swap
    std::optional<std::uint64_t> pagesIn, pagesOut;  // swapped in and out since boot
    // Pages a second, over the time since the previous sample.
    std::optional<double> pagesInPerSecond, pagesOutPerSecond;
};
struct SampleDisk {
    VolumeSpace space;
    // df's Use%, unrounded: used over used and what users may still write.
    std::optional<double> usedRatio;
};
struct SamplePressure {
    std::string_view resource;  // "cpu", "memory" or "io"
    Pressure stall;
};
struct SampleDiskIo {
    std::string device;  // "sda", "nvme0n1", "dm-0"
    DiskKind kind = DiskKind::whole;
    std::uint64_t readBytes = 0, writtenBytes = 0;  // since boot
    double ioSeconds = 0;                           // time with I/O in flight
    std::optional<double> readBytesPerSecond, writtenBytesPerSecond;
};
struct SampleFileSystem {
    std::string mountPoint, device, fsType;  // as mountinfo gives them
    std::optional<VolumeSpace> space;        // the last answer; absent before any
    bool stale = false;                      // statvfs has not answered this time
    std::optional<double> usedRatio;         // df's Use%, of the space shown
};
struct SampleInterface {
    std::string name;
    std::uint64_t received = 0, sent = 0;  // bytes since the interface came up
    std::optional<std::uint64_t> receiveErrors, receiveDrops, transmitErrors, transmitDrops;
    // Bytes a second each way, over the time since the previous sample.
    std::optional<double> receivedPerSecond, sentPerSecond;
};
struct SampleBattery {
    std::string name;                     // "BAT0"
    std::optional<double> chargePercent;  // charge over full capacity, as the panel has it
    std::optional<double> chargeRatio, healthRatio, cycles, temperatureCelsius,
        timeRemainingSeconds, powerWatts;
    std::optional<bool> charging, externalPower;
};

// The cgroup whose limits apply, where one does (see CgroupFiles).
struct SampleCgroup {
    std::string path;  // as procfs self/cgroup writes it
    std::optional<std::uint64_t> memoryLimitBytes, memoryUsedBytes;
    std::optional<double> cpuLimitCores;
    std::optional<double> cpuSeconds;  // the cgroup's CPU time
    // Its CPU time over the interval as a share of what the limit allows.
    std::optional<double> cpuUsedRatio;
    std::optional<std::uint64_t> throttledPeriods;
    std::optional<double> throttledSeconds;
};

// The machine at one moment, every figure typed and read once: what the exporter, and
// any program that wants many figures at a time, formats from. A figure that could not
// be read is absent, never a zero standing in for it.
struct Sample {
    // What a take reads; a part left out stays absent or empty.
    struct Part {
        enum : unsigned {
            cpu = 1,
            cores = 2,
            memory = 4,
            swap = 8,
            disk = 16,
            network = 32,
            system = 64,  // load, boot time, processes, thermal level
            power = 128,
            pressure = 256,
            diskIo = 512,
            fileSystems = 1024,
            sensors = 2048,
            cgroup = 4096,
            all = ~0u,
        };
    };
    using Core = SampleCore;
    using Cpu = SampleCpu;
    using Memory = SampleMemory;
    using Swap = SampleSwap;
    using Disk = SampleDisk;
    using Interface = SampleInterface;
    using DiskIo = SampleDiskIo;
    using FileSystem = SampleFileSystem;
    using Battery = SampleBattery;

    Cpu cpu;
    std::optional<Memory> memory;
    std::optional<Swap> swap;  // absent where meminfo does not say
    std::optional<Disk> disk;  // the start-up volume
    // In net/dev's order: at most maximumInterfaces, and the default routes' own beyond.
    std::vector<Interface> interfaces;
    std::optional<DefaultRoute> ipv4, ipv6;
    std::optional<LoadAvg> load;  // all three averages, or none
    std::optional<std::int64_t> bootTime;
    std::optional<std::size_t> processes;
    std::optional<std::uint32_t> thermalLevel;
    std::vector<Battery> batteries;  // the machine's own, not a mouse's
    // Each resource the kernel reports pressure for, in the order cpu, memory, io.
    std::vector<SamplePressure> pressure;
    // Whole disks and the devices stacked on them (device mapper, RAID), in diskstats'
    // order; partitions and loop, RAM and zram devices are left out.
    std::vector<DiskIo> disks;
    // The whole disks together, bytes a second: partitions and stacked devices would
    // count the same bytes twice.
    std::optional<double> diskReadBytesPerSecond, diskWrittenBytesPerSecond;
    // The file systems df lists, in mountinfo's order, network ones included.
    std::vector<FileSystem> fileSystems;
    // hwmon's temperatures (°C) and fans (rpm), chip by chip; a CPU thermal zone where
    // no chip is the CPU's. A value that is not plausible is absent.
    std::vector<SensorReading> temperatures, fans;
    // Where a cgroup limits this process. Where the platform's figures are the cgroup's
    // (LinuxPlatform::setCgroup), the CPU's usedRatio, the memory and the pressure above
    // are the cgroup's too; otherwise they stay the machine's.
    std::optional<SampleCgroup> cgroup;

    static constexpr std::size_t maximumInterfaces = 4096;
};

// The share of the CPUs' time in use between two readings of their times; absent when
// no time passed or the counters went back.
std::optional<double> cpuUsedRatio(const CpuTimes& before, const CpuTimes& after);

// The rate of a counter between two readings seconds apart; absent where either is
// missing or the counter went back.
std::optional<double> perSecond(std::optional<std::uint64_t> before,
                                std::optional<std::uint64_t> after, double seconds);

// Takes samples of one machine, keeping the CPU times between them.
class Sampler {
  public:
    explicit Sampler(LinuxPlatform& platform) : platform_(platform) {}

    // Reads every file once. A caller that learns of route changes from the kernel's
    // notifications passes the default routes it keeps, and the routing tables are not
    // read.
    Sample take(const LinuxPlatform::DefaultRoutes* known = nullptr,
                unsigned parts = Sample::Part::all);
    // The CPU times alone, which start the interval the next take measures over.
    std::optional<CpuTimes> startInterval();

  private:
    LinuxPlatform& platform_;
    std::optional<CpuTimes> earlier_;
    std::vector<ProcStat::Line> earlierCores_;
    void takeCores(std::vector<Sample::Core>& cores, const std::vector<ProcStat::Line>& lines);
    void takeSwap(std::optional<Sample::Swap>& out, const std::optional<MemInfo>& info);
    void takeNetwork(Sample& s, const LinuxPlatform::DefaultRoutes* known);
    void takeDisks(Sample& s);
    void takeFileSystems(Sample& s);

    // The counters behind rates, and when they were read.
    std::optional<std::pair<std::chrono::steady_clock::time_point, SwapActivity>> swapCounters_;
    std::chrono::steady_clock::time_point disksAt_;
    std::vector<DiskCounters> earlierDisks_;
    std::chrono::steady_clock::time_point interfacesAt_;
    std::vector<std::pair<std::string, std::pair<std::uint64_t, std::uint64_t>>> earlierInterfaces_;
    std::unique_ptr<SpaceProbe> probe_;  // started by the first take that wants it
    CgroupCpuShare cgroupShare_;
    void takeCgroup(Sample& s, unsigned parts);
};

}  // namespace quillo
