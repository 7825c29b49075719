#pragma once

#include "platform/Platform.hpp"

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
    std::optional<FileSystemAttributes> fileSystemAttributes(const char*) override {
        return rootVolume;
    }
};

}  // namespace quillo::test
