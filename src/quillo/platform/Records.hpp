#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace quillo {

// Records named and laid out as the operating system that first defined them names
// them, so the metrics above read the same fields whatever platform fills them. A
// record from a failed call is all zeros.

enum : int { CPU_STATE_USER = 0, CPU_STATE_SYSTEM = 1, CPU_STATE_IDLE = 2, CPU_STATE_NICE = 3 };

// Scheduler ticks of all processors together, per state; 32-bit counters that wrap.
struct host_cpu_load_info {
    std::uint32_t cpu_ticks[4] = {0, 0, 0, 0};
};

// Page counts of physical memory by use.
struct vm_statistics64 {
    std::uint32_t free_count = 0;
    std::uint32_t active_count = 0;
    std::uint32_t inactive_count = 0;
    std::uint32_t wire_count = 0;
    std::uint32_t compressor_page_count = 0;
};

struct host_basic_info {
    std::int32_t max_cpus = 0;
    std::int32_t avail_cpus = 0;
    std::int32_t memory_size = 0;
    std::int32_t cpu_type = 0;
    std::int32_t cpu_subtype = 0;
    std::int32_t cpu_threadtype = 0;
    std::int32_t physical_cpu = 0;
    std::int32_t physical_cpu_max = 0;
    std::int32_t logical_cpu = 0;
    std::int32_t logical_cpu_max = 0;
    std::uint64_t max_mem = 0;
};

inline constexpr std::int32_t LOAD_SCALE = 1000;

// Load averages and Mach factors over 1, 5 and 15 minutes, scaled by LOAD_SCALE.
struct host_load_info {
    std::int32_t avenrun[3] = {0, 0, 0};
    std::int32_t mach_factor[3] = {0, 0, 0};
};

struct processor_set_load_info {
    std::int32_t task_count = 0;
    std::int32_t thread_count = 0;
    std::int32_t load_average = 0;
    std::int32_t mach_factor = 0;
};

// The CPU power status dictionary; a key without a source is missing.
using CPUPowerStatus = std::map<std::string, double, std::less<>>;
inline constexpr const char* kIOPMCPUPowerLimitProcessorSpeedKey = "CPU_Speed_Limit";
inline constexpr const char* kIOPMCPUPowerLimitProcessorCountKey = "CPU_Available_CPUs";
inline constexpr const char* kIOPMCPUPowerLimitSchedulerTimeKey = "CPU_Scheduler_Limit";

// Thermal warning levels as published.
inline constexpr std::uint32_t kIOPMThermalLevelNormal = 0;
inline constexpr std::uint32_t kIOPMThermalLevelDanger = 5;
inline constexpr std::uint32_t kIOPMThermalLevelCritical = 10;

// Capacity and free space of a volume, in bytes (NSFileSystemSize, NSFileSystemFreeSize).
struct FileSystemAttributes {
    std::uint64_t size = 0;
    std::uint64_t freeSize = 0;
};

// A property-list value of the network configuration store, and the store's
// dictionaries: a value of another kind than text makes a dictionary unusable.
using PropertyValue = std::variant<std::string, double, bool, std::int64_t>;
using PropertyDictionary = std::map<std::string, PropertyValue, std::less<>>;
using PropertyList = std::variant<PropertyDictionary, PropertyValue>;

inline constexpr const char* kGlobalIPv4StateKey = "State:/Network/Global/IPv4";
inline constexpr const char* kGlobalIPv6StateKey = "State:/Network/Global/IPv6";
inline constexpr const char* kSCPropNetPrimaryInterface = "PrimaryInterface";
inline constexpr const char* kSCPropNetRouter = "Router";
inline constexpr const char* kSCPropNetPrimaryService = "PrimaryService";

// A hardware registry entry; 0 is none.
using io_service_t = std::uint32_t;
using io_object_t = io_service_t;

// Process states as BSD numbers them.
inline constexpr std::int8_t SIDL = 1;
inline constexpr std::int8_t SRUN = 2;
inline constexpr std::int8_t SSLEEP = 3;
inline constexpr std::int8_t SSTOP = 4;
inline constexpr std::int8_t SZOMB = 5;

inline constexpr std::size_t MAXCOMLEN = 16;

// The facts of one process that the process list reads.
struct kinfo_proc {
    char p_comm[MAXCOMLEN + 1] = {};  // NUL-terminated
    std::uint32_t p_flag = 0;         // the kernel's process flags
    std::int8_t p_stat = 0;
    std::int32_t e_ppid = 0;
    std::int32_t e_pgid = 0;
    std::uint32_t cr_uid = 0;
};

// CPU types, the codes a process's architecture is compared with.
using cpu_type_t = std::int32_t;
inline constexpr cpu_type_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr cpu_type_t CPU_TYPE_ANY = -1;
inline constexpr cpu_type_t CPU_TYPE_X86 = 7;
inline constexpr cpu_type_t CPU_TYPE_I386 = CPU_TYPE_X86;
inline constexpr cpu_type_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr cpu_type_t CPU_TYPE_ARM = 12;
inline constexpr cpu_type_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
inline constexpr cpu_type_t CPU_TYPE_POWERPC = 18;
inline constexpr cpu_type_t CPU_TYPE_POWERPC64 = CPU_TYPE_POWERPC | CPU_ARCH_ABI64;

}  // namespace quillo
