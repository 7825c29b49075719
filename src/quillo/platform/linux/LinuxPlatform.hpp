#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "quillo/platform/Platform.hpp"
#include "quillo/platform/linux/Activity.hpp"
#include "quillo/platform/linux/Cgroup.hpp"
#include "quillo/platform/linux/Cpu.hpp"
#include "quillo/platform/linux/FileReader.hpp"
#include "quillo/platform/linux/FileSystem.hpp"
#include "quillo/platform/linux/Machine.hpp"
#include "quillo/platform/linux/Memory.hpp"
#include "quillo/platform/linux/Network.hpp"
#include "quillo/platform/linux/Power.hpp"
#include "quillo/platform/linux/Processes.hpp"
#include "quillo/platform/linux/Sensors.hpp"
#include "quillo/platform/linux/Thermal.hpp"

namespace quillo {

// The platform records from procfs and sysfs under an FsRoot. Each subject reads its
// own files; this class only hands each call to its subject.
class LinuxPlatform final : public Platform {
  public:
    explicit LinuxPlatform(FsRoot root = {});

    host_cpu_load_info hostCPULoadInfo() override;
    vm_statistics64 hostVMInfo64() override;
    host_basic_info hostBasicInfo() override;
    host_load_info hostLoadInfo() override;
    std::uint64_t pageSize() override;
    int getloadavg(double averages[], int count) override;
    std::optional<std::int64_t> bootTime() override;
    std::int64_t currentTime() override;
    std::optional<std::string> hardwareModel() override;
    std::optional<processor_set_load_info> processorSetLoadInfo() override;
    std::optional<CPUPowerStatus> cpuPowerStatus() override;
    IOReturn thermalWarningLevel(std::uint32_t& level) override;
    std::optional<FileSystemAttributes> fileSystemAttributes(const char* path) override;
    unsigned if_nametoindex(const char* name) override;
    bool walkInterfaceList(const InterfaceVisitor& f) override;
    std::optional<PropertyList> copyDynamicStoreValue(std::string_view key) override;
    io_service_t IOServiceGetMatchingService(std::string_view name) override;
    std::optional<PropertyValue> IORegistryEntryCreateCFProperty(io_service_t service,
                                                                 std::string_view key) override;
    IOReturn IOObjectRelease(io_object_t object) override;
    bool listProcesses(std::vector<std::int32_t>& pids) override;
    std::optional<kinfo_proc> processInfo(std::int32_t pid) override;
    std::optional<cpu_type_t> processCpuType(std::int32_t pid) override;
    bool processUsage(std::vector<ProcessUsageSample>& out) override;

    // The subjects themselves, for a reader that takes many figures at once.
    CpuFiles& cpu() { return cpu_; }
    MemoryFiles& memory() { return memory_; }
    NetworkFiles& network() { return network_; }
    ThermalFiles& thermal() { return thermal_; }
    PowerFiles& power() { return power_; }
    ProcessFiles& processes() { return processes_; }
    ActivityFiles& activity() { return activity_; }
    SensorFiles& sensors() { return sensors_; }
    CgroupFiles& cgroup() { return cgroup_; }

    // The cgroup the CPU and memory records describe: "host" (the default) or, with
    // "auto" or a path, the cgroup of CgroupFiles::choose wherever a limit applies: the
    // CPU's ticks are then its CPU time against what its limit allows (a cgroup at its
    // quota is all busy), the memory's pages the parts of its limit.
    void setCgroup(std::string choice);
    bool cgroupView() const { return cgroupView_; }
    // Whether the procfs root is the kernel's own, not a copied tree: only then do the
    // mount points it lists exist here to be measured.
    bool readsTheKernel() const { return files_.isKernel(Fs::proc); }

    struct DefaultRoutes {
        std::optional<DefaultRoute> ipv4, ipv6;
    };

  private:
    FileReader files_;
    CpuFiles cpu_{files_};
    MachineFiles machine_{files_};
    MemoryFiles memory_{files_};
    NetworkFiles network_{files_};
    ThermalFiles thermal_{files_};
    PowerFiles power_{files_};
    ProcessFiles processes_{files_};
    ActivityFiles activity_{files_};
    SensorFiles sensors_{files_};
    CgroupFiles cgroup_{files_, memory_, cpu_};
    bool cgroupView_ = false;
    // The cgroup's CPU ticks: busy is its CPU time, idle what its limit allowed since
    // the first reading (when and at what CPU time) beyond what it used, never going
    // back (a burst past the quota reads all busy).
    std::optional<std::pair<std::chrono::steady_clock::time_point, std::uint64_t>> cgroupTicksFrom_;
    std::uint64_t cgroupIdleTicks_ = 0;

    // Open registry entries: each handle holds the battery as read when it was opened.
    std::mutex servicesMutex_;
    std::map<io_service_t, PowerSupplySnapshot> services_;
    io_service_t nextService_ = 1;
};

}  // namespace quillo
