#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quillo/platform/linux/FileReader.hpp"

namespace quillo {

// Thermal zones under sysfs class/thermal.

// A trip point, in millidegrees Celsius.
struct ThermalTrip {
    std::string type;  // "critical", "hot", "passive", "active", ...
    std::int64_t temperature = 0;
    friend bool operator==(const ThermalTrip&, const ThermalTrip&) = default;
};

// One zone as read at one moment.
struct ThermalZone {
    std::string name;                         // "thermal_zone0"
    std::optional<std::int64_t> temperature;  // absent when temp cannot be read
    std::vector<ThermalTrip> trips;
};

// The warning level a zone at this temperature gives: 10 at or above a critical or hot
// trip, 5 at or above a passive one, 0 otherwise. Trips at or below 0 °C mark disabled
// trips and are ignored.
std::uint32_t thermalLevelOfZone(std::int64_t temperature, const std::vector<ThermalTrip>& trips);

// The highest level of the zones whose temperature reads; absent when none does.
std::optional<std::uint32_t> thermalLevelOf(const std::vector<ThermalZone>& zones);

class ThermalFiles {
  public:
    explicit ThermalFiles(FileReader& files) : files_(files) {}

    // Every zone, in name order, at most maximumZones of them.
    std::vector<ThermalZone> zones();

    static constexpr std::size_t maximumZones = 1024;
    static constexpr int maximumTrips = 64;

  private:
    FileReader& files_;
};

}  // namespace quillo
