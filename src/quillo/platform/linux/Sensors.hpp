#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillo/platform/linux/FileReader.hpp"

namespace quillo {

// Temperatures and fans from sysfs class/hwmon, and the thermal zones' temperatures
// where no hwmon chip is the CPU's.

struct SensorReading {
    // The chip by where it sits, which the kernel's hwmonN numbering does not change
    // between boots: the device's bus and name ("platform_coretemp_0", "nvme_nvme0"),
    // else the chip's own name ("acpitz"). node_exporter names chips alike.
    std::string chip;
    std::string chipName;  // the driver's name for it ("coretemp")
    std::string sensor;    // the attribute's prefix ("temp2", "fan1")
    std::string label;     // its label file ("Core 0"), else the prefix
    // Degrees Celsius or revolutions a minute; absent where the value is not plausible
    // (below -40 or above 150 °C, above 50,000 rpm), which a disconnected or misread
    // sensor gives.
    std::optional<double> value;
};

// node_exporter's cleaning of a name part: lower case, anything but [a-z0-9:_] made an
// underscore, underscores at either end dropped.
std::string cleanSensorName(std::string_view name);
// "a/b/../c" without its dots: link targets joined to where they sit.
std::string lexicallyNormal(std::string_view path);

// Whether a chip measures the CPU: Intel's coretemp, AMD's k10temp and zenpower, and the
// CPU thermal zones of other machines.
bool isCpuChip(std::string_view chipName);

class SensorFiles {
  public:
    explicit SensorFiles(FileReader& files) : files_(files) {}

    struct Readings {
        std::vector<SensorReading> temperatures, fans;
    };
    // Every chip's temperatures and fans, chips in name order, each chip's sensors in
    // number order; the CPU thermal zones join the temperatures where no chip is a CPU.
    Readings read();

    static constexpr std::size_t maximumSensors = 64;  // of one kind, on one chip

  private:
    std::string chipOf(std::string_view hwmon, std::string_view name);
    FileReader& files_;
};

}  // namespace quillo
