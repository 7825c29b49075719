#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillo/platform/IOReturn.hpp"
#include "quillo/platform/Records.hpp"

namespace quillo {

// The operating system as the metrics see it: records and look-ups, each with a
// neutral answer (a zero record, an absent value, a status) when the system cannot
// give one. No call throws.
// One process's use of the machine at one moment.
struct ProcessUsageSample {
    std::int32_t pid = 0;
    std::uint64_t startTime = 0;       // clock ticks after boot: with the pid, which process it is
    std::uint32_t uid = 0;             // its effective user
    char comm[MAXCOMLEN + 1] = {};     // its short name, NUL-terminated
    std::uint64_t cpuNanoseconds = 0;  // user and system time of all its threads
    std::uint64_t residentBytes = 0;
};

class Platform {
  public:
    virtual ~Platform() = default;

    virtual host_cpu_load_info hostCPULoadInfo() = 0;
    virtual vm_statistics64 hostVMInfo64() = 0;
    virtual host_basic_info hostBasicInfo() = 0;
    virtual host_load_info hostLoadInfo() = 0;
    virtual std::uint64_t pageSize() = 0;

    // Fills up to count averages; returns how many, or -1 when none could be read.
    virtual int getloadavg(double averages[], int count) = 0;

    // Seconds since the epoch at boot (KERN_BOOTTIME); absent when it cannot be read.
    virtual std::optional<std::int64_t> bootTime() = 0;
    virtual std::int64_t currentTime() = 0;

    // The hardware model name's bytes (HW_MODEL); absent when the call fails.
    virtual std::optional<std::string> hardwareModel() = 0;

    // The default processor set's load record; absent when the set cannot be had.
    virtual std::optional<processor_set_load_info> processorSetLoadInfo() = 0;

    // Absent when no power status can be obtained at all.
    virtual std::optional<CPUPowerStatus> cpuPowerStatus() = 0;

    // kIOReturnNotFound when no thermal level is published; otherwise stores it.
    virtual IOReturn thermalWarningLevel(std::uint32_t& level) = 0;

    // The interface's index; 0 when there is no interface of that name.
    virtual unsigned if_nametoindex(const char* name) = 0;

    // Walks the kernel's interface list in its order, handing each interface's name and
    // its received and sent byte counters to f until f returns false. Returns false when
    // the list cannot be fetched. May throw std::bad_alloc when no buffer can be had.
    using InterfaceVisitor =
        std::function<bool(std::string_view name, std::uint64_t ibytes, std::uint64_t obytes)>;
    virtual bool walkInterfaceList(const InterfaceVisitor& f) = 0;

    // The value the network configuration store holds under key, if any.
    virtual std::optional<PropertyList> copyDynamicStoreValue(std::string_view key) = 0;

    // The first registry entry of that name (the machine's battery is
    // "AppleSmartBattery"), retained for the caller; 0 when there is none.
    virtual io_service_t IOServiceGetMatchingService(std::string_view name) = 0;
    // A property of an entry; absent when the entry has no such property.
    virtual std::optional<PropertyValue> IORegistryEntryCreateCFProperty(io_service_t service,
                                                                         std::string_view key) = 0;
    virtual IOReturn IOObjectRelease(io_object_t object) = 0;

    // The process identifiers of every task, in the kernel's order; false when the
    // list cannot be had. Fills the caller's vector so that it can be reused.
    virtual bool listProcesses(std::vector<std::int32_t>& pids) = 0;
    // The process's facts; absent when they cannot be read (it has ended, say).
    virtual std::optional<kinfo_proc> processInfo(std::int32_t pid) = 0;
    // The CPU type of its executable; absent when it cannot be read.
    virtual std::optional<cpu_type_t> processCpuType(std::int32_t pid) = 0;

    // Every process's use, in the kernel's order, into the caller's vector; false when
    // the processes cannot be listed. A process that ends meanwhile is left out.
    virtual bool processUsage(std::vector<ProcessUsageSample>& out) {
        out.clear();
        return false;
    }

    // The volume holding path; absent when it cannot be queried.
    virtual std::optional<FileSystemAttributes> fileSystemAttributes(const char* path) = 0;
};

// The platform that the static readers use: the live system unless a caller has put
// another in place. Set it before readers run on other threads; the caller keeps it
// alive while it is in place.
Platform& currentPlatform();
void setCurrentPlatform(Platform* platform);  // nullptr restores the live system

class ScopedPlatform {
  public:
    explicit ScopedPlatform(Platform& platform) { setCurrentPlatform(&platform); }
    ~ScopedPlatform() { setCurrentPlatform(nullptr); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;
};

}  // namespace quillo
