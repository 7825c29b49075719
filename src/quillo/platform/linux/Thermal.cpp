#include "quillo/platform/linux/Thermal.hpp"

#include <algorithm>

#include "quillo/platform/Debug.hpp"
#include "quillo/platform/Records.hpp"
#include "quillo/platform/Text.hpp"

namespace quillo {

std::uint32_t thermalLevelOfZone(std::int64_t temperature, const std::vector<ThermalTrip>& trips) {
    std::uint32_t level = kIOPMThermalLevelNormal;
    for (const ThermalTrip& trip : trips) {
        if (trip.temperature <= 0 || temperature < trip.temperature) continue;
        if (trip.type == "critical" || trip.type == "hot") {
            level = std::max(level, kIOPMThermalLevelCritical);
        } else if (trip.type == "passive") {
            level = std::max(level, kIOPMThermalLevelDanger);
        }
    }
    return level;
}

std::optional<std::uint32_t> thermalLevelOf(const std::vector<ThermalZone>& zones) {
    // A zone whose temperature cannot be read says nothing.
    std::optional<std::uint32_t> highest;
    for (const ThermalZone& zone : zones) {
        if (!zone.temperature) continue;
        highest = std::max(highest.value_or(kIOPMThermalLevelNormal),
                           thermalLevelOfZone(*zone.temperature, zone.trips));
    }
    return highest;
}

std::vector<ThermalZone> ThermalFiles::zones() {
    std::vector<std::string> names;
    files_.forEachEntryTick(Fs::sys, "class/thermal", [&](std::string_view name) {
        if (name.starts_with("thermal_zone") && names.size() < maximumZones)
            names.emplace_back(name);
    });
    std::sort(names.begin(), names.end());
    if (names.empty()) debug::note("class/thermal", "no thermal zone");

    ReadBuffer text;
    const auto number = [&](const std::string& path) -> std::optional<std::int64_t> {
        if (!files_.read(Fs::sys, path, text)) return std::nullopt;
        return parseSigned(trim(text.view()));
    };
    std::vector<ThermalZone> zones;
    zones.reserve(names.size());
    for (std::string& name : names) {
        ThermalZone zone{std::move(name), {}, {}};
        const std::string base = "class/thermal/" + zone.name + "/";
        zone.temperature = number(base + "temp");
        if (!zone.temperature) {
            debug::note(base + "temp", "missing or malformed; the zone counts for nothing");
            zones.push_back(std::move(zone));
            continue;
        }
        for (int i = 0; i < maximumTrips; ++i) {
            const std::string trip = base + "trip_point_" + std::to_string(i) + "_";
            const auto at = number(trip + "temp");
            if (!at || !files_.read(Fs::sys, trip + "type", text)) break;
            zone.trips.push_back({std::string(trim(text.view())), *at});
        }
        // Older ACPI zones publish their passive trip point as a file of its own.
        if (const auto passive = number(base + "passive"))
            zone.trips.push_back({"passive", *passive});
        zones.push_back(std::move(zone));
    }
    return zones;
}

}  // namespace quillo
