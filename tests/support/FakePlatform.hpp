#pragma once

#include <map>
#include <new>
#include <tuple>
#include <vector>

#include "quillo/platform/Platform.hpp"

namespace quillo::test {

// A platform whose records a test sets field by field; installed for the test's life.
class FakePlatform : public Platform {
  public:
    host_cpu_load_info cpuLoad{};
    vm_statistics64 vm{};
    host_basic_info basic{};
    host_load_info load{};
    std::uint64_t page = 4096;
    double averages[3] = {0, 0, 0};
    int averagesAvailable = 3;
    std::optional<std::int64_t> boot;
    std::int64_t now = 0;
    std::optional<std::string> model;
    std::optional<processor_set_load_info> processorSet;
    std::optional<CPUPowerStatus> powerStatus;
    IOReturn thermalStatus = kIOReturnSuccess;
    std::optional<std::uint32_t> thermalLevelStored = 0;
    std::optional<FileSystemAttributes> rootVolume;
    std::map<std::string, unsigned, std::less<>> indices;
    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> interfaces;  // name, in, out
    bool interfaceListFails = false;
    bool interfaceListThrows = false;
    int interfaceListWalks = 0;
    std::map<std::string, PropertyList, std::less<>> store;
    std::optional<std::map<std::string, PropertyValue, std::less<>>> battery;  // absent: none
    IOReturn releaseStatus = kIOReturnSuccess;
    int batteryLookups = 0;
    std::optional<std::vector<std::int32_t>> pids;  // absent: the list cannot be had
    std::map<std::int32_t, kinfo_proc> processes;
    std::map<std::int32_t, cpu_type_t> cpuTypes;
    std::optional<std::vector<ProcessUsageSample>> usage;  // absent: cannot be listed
    int usageReads = 0;

    void route(const char* key, PropertyDictionary state) { store[key] = std::move(state); }
    void counters(const std::string& name, std::uint64_t in, std::uint64_t out) {
        indices.emplace(name, unsigned(indices.size() + 1));
        for (auto& entry : interfaces) {
            if (std::get<0>(entry) == name) {
                entry = {name, in, out};
                return;
            }
        }
        interfaces.emplace_back(name, in, out);
    }

    template <class Map, class Key>
    static std::optional<typename Map::mapped_type> found(const Map& map, const Key& key) {
        const auto it = map.find(key);
        return it == map.end() ? std::nullopt : std::optional(it->second);
    }

    FakePlatform() { setCurrentPlatform(this); }
    ~FakePlatform() override { setCurrentPlatform(nullptr); }

    host_cpu_load_info hostCPULoadInfo() override { return cpuLoad; }
    vm_statistics64 hostVMInfo64() override { return vm; }
    host_basic_info hostBasicInfo() override { return basic; }
    host_load_info hostLoadInfo() override { return load; }
    std::uint64_t pageSize() override { return page; }
    int getloadavg(double out[], int count) override {
        const int n = std::min(count, averagesAvailable);
        for (int i = 0; i < n; ++i) out[i] = averages[i];
        return n > 0 ? n : -1;
    }
    std::optional<std::int64_t> bootTime() override { return boot; }
    std::int64_t currentTime() override { return now; }
    std::optional<std::string> hardwareModel() override { return model; }
    std::optional<processor_set_load_info> processorSetLoadInfo() override { return processorSet; }
    std::optional<CPUPowerStatus> cpuPowerStatus() override { return powerStatus; }
    IOReturn thermalWarningLevel(std::uint32_t& level) override {
        if (thermalLevelStored) level = *thermalLevelStored;
        return thermalStatus;
    }
    unsigned if_nametoindex(const char* name) override {
        return found(indices, std::string_view(name)).value_or(0);
    }
    bool walkInterfaceList(const InterfaceVisitor& f) override {
        ++interfaceListWalks;
        if (interfaceListThrows) throw std::bad_alloc();
        if (interfaceListFails) return false;
        for (const auto& [name, in, out] : interfaces) {
            if (!f(name, in, out)) break;
        }
        return true;
    }
    std::optional<PropertyList> copyDynamicStoreValue(std::string_view key) override {
        return found(store, key);
    }
    io_service_t IOServiceGetMatchingService(std::string_view name) override {
        ++batteryLookups;
        return battery && name == "AppleSmartBattery" ? 42 : 0;
    }
    std::optional<PropertyValue> IORegistryEntryCreateCFProperty(io_service_t service,
                                                                 std::string_view key) override {
        if (service != 42 || !battery) return std::nullopt;
        const auto it = battery->find(key);
        if (it == battery->end()) return std::nullopt;
        return it->second;
    }
    IOReturn IOObjectRelease(io_object_t) override { return releaseStatus; }
    bool listProcesses(std::vector<std::int32_t>& out) override {
        if (!pids) return false;
        out = *pids;
        return true;
    }
    std::optional<kinfo_proc> processInfo(std::int32_t pid) override {
        return found(processes, pid);
    }
    std::optional<cpu_type_t> processCpuType(std::int32_t pid) override {
        return found(cpuTypes, pid);
    }
    bool processUsage(std::vector<ProcessUsageSample>& out) override {
        ++usageReads;
        out = usage.value_or(std::vector<ProcessUsageSample>{});
        return usage.has_value();
    }
    std::optional<FileSystemAttributes> fileSystemAttributes(const char*) override {
        return rootVolume;
    }
};

}  // namespace quillo::test
