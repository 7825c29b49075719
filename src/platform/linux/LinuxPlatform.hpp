#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Platform.hpp"
#include "platform/linux/FileReader.hpp"

namespace quillo {

// The platform records from procfs and sysfs under an FsRoot.
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

  private:
    // The online CPUs by number; from the per-CPU lines of procfs stat where sysfs
    // does not say, as those lines list the online CPUs too.
    std::vector<int> onlineCpus();
    std::optional<double> speedLimit(const std::vector<int>& cpus);
    std::optional<double> cgroupQuotaCpus();
    std::optional<std::string> supplyAttribute(const std::string& folder,
                                               std::string_view attribute);
    std::optional<bool> externalPowerOnline();

    FileReader files_;

    // Topology changes only when CPUs come or go, so the core count is kept for as long
    // as the online list stays the same; the possible CPUs are fixed at boot.
    std::mutex topologyMutex_;
    std::vector<int> coresCountedFor_;
    std::int32_t physicalCores_ = 0;
    std::optional<std::int32_t> possibleCpus_;

    // CPU types of the executables met during one listing, by the path the kernel gives
    // for them: most processes share a few executables, and a readlink is cheaper than
    // opening one. Cleared at each listing, so an executable replaced on disk is
    // read again the next time.
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::mutex cpuTypesMutex_;
    std::unordered_map<std::string, std::optional<cpu_type_t>, PathHash, std::equal_to<>> cpuTypes_;

    // Open registry entries: each handle names a power_supply folder.
    std::mutex servicesMutex_;
    std::map<io_service_t, std::string> services_;
    io_service_t nextService_ = 1;
};

}  // namespace quillo
