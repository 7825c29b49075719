#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quillo/platform/IOReturn.hpp"
#include "quillo/platform/Records.hpp"

namespace quillo {

enum class TemperatureUnit { celsius, fahrenheit, kelvin };

// The machine's internal battery in the hardware registry. open() finds it, the
// readers read its properties, close() lets it go. Every reader answers absent when
// the property is missing or of another kind, so a real 0 is never confused with
// "not published"; nothing here stops the process.
struct Battery {
    io_service_t service = 0;

    static Battery init() { return Battery{}; }

    // 0, kIOReturnStillOpen when already open (nothing is looked up), or
    // kIOReturnNotFound when the machine has no battery.
    IOReturn open();
    // Releases the entry and always ends closed; the release's own status is returned.
    IOReturn close();

    // Percent, rounded down; infinite or not a number when MaxCapacity is 0.
    std::optional<double> charge() const;
    std::optional<std::int64_t> currentCapacity() const;
    std::optional<std::int64_t> maxCapactiy() const;
    std::optional<std::int64_t> designCapacity() const;
    std::optional<std::int64_t> cycleCount() const;
    std::optional<std::int64_t> designCycleCount() const;
    std::optional<std::int64_t> timeRemaining() const;          // minutes
    std::optional<std::string> timeRemainingFormatted() const;  // "%d:%02d"
    // Whole degrees in the unit, rounded up.
    std::optional<double> temperature(TemperatureUnit unit = TemperatureUnit::celsius) const;
    std::optional<bool> isCharging() const;
    std::optional<bool> isCharged() const;
    std::optional<bool> isACPowered() const;
    // What flows into or out of the battery, in watts; absent where the driver
    // publishes neither power nor current and voltage.
    std::optional<double> watts() const;

    // The registry's property names, two of which differ from their case names.
    enum class Key {
        ACPowered,
        Amperage,
        CurrentCapacity,
        CycleCount,
        DesignCapacity,
        DesignCycleCount,
        FullyCharged,
        IsCharging,
        MaxCapacity,
        Temperature,
        TimeRemaining,
        Watts
    };
    static std::string_view rawValue(Key key);

  private:
    static std::optional<std::int64_t> readIntProperty(io_service_t service, Key key);
    static std::optional<bool> readBoolProperty(io_service_t service, Key key);
    static std::optional<double> readDoubleProperty(io_service_t service, Key key);
};

}  // namespace quillo
