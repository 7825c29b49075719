#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Records.hpp"

namespace quillo {

// One attribute of a power_supply folder as trimmed text; absent when it is missing,
// cannot be read (a driver answers ENODEV while the battery wakes) or is empty.
using SupplyAttribute = std::function<std::optional<std::string>(std::string_view attribute)>;

// The battery's registry properties from its power_supply attributes:
//   CurrentCapacity, MaxCapacity, DesignCapacity  the energy_ family (µWh) where its
//       *_full reads, else the charge_ family (µAh), ÷ 1000; one family throughout, and
//       *_now from capacity × *_full ÷ 100 when only the percentage is published. A
//       battery with neither family publishes capacity over a MaxCapacity of 100.
//   CycleCount        cycle_count; 0 is what firmware writes when it does not know.
//   Temperature       temp × 10 (tenths of a degree to hundredths).
//   TimeRemaining     minutes: time_to_empty_now or time_to_full_now when the kernel
//       gives them, else the energy or charge still to go over the present rate;
//       absent when not charging or discharging, when the rate is 0, and beyond
//       100 hours, which is a rate too small to mean anything.
//   IsCharging, FullyCharged  status "Charging", "Full".
//   ExternalConnected  whether any Mains or USB supply is online (externalPower);
//       without one that tells, whether status is other than "Discharging" ("Not
//       charging" is a charge limit holding the battery below full on AC).
//   Amperage          current_now ÷ 1000 (mA), negative while discharging.
// Anything else, DesignCycleCount9C included, is absent.
std::optional<PropertyValue> batteryProperty(
    std::string_view key, const SupplyAttribute& attribute,
    const std::function<std::optional<bool>()>& externalPower);

}  // namespace quillo
