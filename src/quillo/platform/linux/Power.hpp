#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quillo/platform/Records.hpp"
#include "quillo/platform/linux/FileReader.hpp"

namespace quillo {

// Power supplies under sysfs class/power_supply. A battery is read once, attribute by
// attribute, into a snapshot, and every property is then answered from that snapshot,
// so the figures of one refresh come from one moment and agree with each other.

// One power_supply folder as read at one moment; what it does not publish is absent.
struct PowerSupplySnapshot {
    std::string name;  // "BAT0"
    std::optional<std::string> type, scope, status;
    std::optional<std::int64_t> online, capacity, cycleCount, temp, energyNow, energyFull,
        energyFullDesign, chargeNow, chargeFull, chargeFullDesign, powerNow, currentNow, voltageNow,
        timeToEmptyNow, timeToFullNow;
    // For a battery: whether any Mains or USB supply is online; absent when none says.
    std::optional<bool> externalPower;
    // Which attributes had a file, so that "missing" and "malformed" can be told apart.
    std::bitset<32> present;
};

// The attributes a snapshot is made of, in sysfs's names.
std::vector<std::string_view> powerSupplyAttributes();
// Puts one attribute's text into its field: trimmed, and absent when empty or, for a
// number, not a number. Returns false for an attribute that is not read.
bool applySupplyAttribute(PowerSupplySnapshot& supply, std::string_view attribute,
                          std::string_view text);

// The battery's registry properties from its snapshot:
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
//   ExternalConnected  whether any Mains or USB supply is online; without one that
//       tells, whether status is other than "Discharging" ("Not charging" is a charge
//       limit holding the battery below full on AC).
//   Amperage          current_now ÷ 1000 (mA), negative while discharging.
//   Watts             the draw either way, a double: |power_now| ÷ 10⁶, else
//       |current_now × voltage_now| ÷ 10¹² (no registry of the other platform has it).
// Anything else, DesignCycleCount9C included, is absent.
std::optional<PropertyValue> batteryProperty(std::string_view key,
                                             const PowerSupplySnapshot& battery);

// For the debug notes: the attribute whose absence left a property absent
// ("power_supply/BAT0/temp"), and why ("missing").
std::pair<std::string, std::string> whyAbsent(std::string_view key,
                                              const PowerSupplySnapshot& battery);

class PowerFiles {
  public:
    explicit PowerFiles(FileReader& files) : files_(files) {}

    // The machine's battery, read whole: the first supply by name whose type is
    // Battery and whose scope is not Device (a mouse's or headset's battery is the
    // peripheral's, whatever it is called). Absent when there is none.
    std::optional<PowerSupplySnapshot> machineBattery();
    // Every battery of the machine's own, read whole, in name order.
    std::vector<PowerSupplySnapshot> machineBatteries();

    static constexpr std::size_t maximumSupplies = 256;

  private:
    // A supply's type, and what tells whether it is the machine's battery or online.
    PowerSupplySnapshot identify(const std::string& name);
    // Every other attribute the battery's folder holds.
    void complete(PowerSupplySnapshot& battery);
    void readAttribute(PowerSupplySnapshot& supply, std::string_view attribute);
    // The machine's batteries in name order, at most limit, each read whole.
    std::vector<PowerSupplySnapshot> batteries(std::size_t limit);

    FileReader& files_;
};

}  // namespace quillo
