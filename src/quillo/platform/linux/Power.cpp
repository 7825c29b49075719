#include "quillo/platform/linux/Power.hpp"

#include <algorithm>
#include <cmath>

#include "quillo/platform/Text.hpp"

namespace quillo {

namespace {

using Snapshot = PowerSupplySnapshot;
using Text = std::optional<std::string> Snapshot::*;
using Number = std::optional<std::int64_t> Snapshot::*;

struct Attribute {
    std::string_view name;
    Text text = nullptr;
    Number number = nullptr;
};

constexpr Attribute attributes[] = {
    {"type", &Snapshot::type},
    {"scope", &Snapshot::scope},
    {"status", &Snapshot::status},
    {"online", nullptr, &Snapshot::online},
    {"capacity", nullptr, &Snapshot::capacity},
    {"cycle_count", nullptr, &Snapshot::cycleCount},
    {"temp", nullptr, &Snapshot::temp},
    {"energy_now", nullptr, &Snapshot::energyNow},
    {"energy_full", nullptr, &Snapshot::energyFull},
    {"energy_full_design", nullptr, &Snapshot::energyFullDesign},
    {"charge_now", nullptr, &Snapshot::chargeNow},
    {"charge_full", nullptr, &Snapshot::chargeFull},
    {"charge_full_design", nullptr, &Snapshot::chargeFullDesign},
    {"power_now", nullptr, &Snapshot::powerNow},
    {"current_now", nullptr, &Snapshot::currentNow},
    {"voltage_now", nullptr, &Snapshot::voltageNow},
    {"time_to_empty_now", nullptr, &Snapshot::timeToEmptyNow},
    {"time_to_full_now", nullptr, &Snapshot::timeToFullNow},
};
static_assert(std::size(attributes) <= 32);

const Attribute* attributeNamed(std::string_view name, std::size_t& index) {
    for (index = 0; index < std::size(attributes); ++index) {
        if (attributes[index].name == name) return &attributes[index];
    }
    return nullptr;
}

constexpr double maximumMinutes = 100 * 60;

// The capacities of one family: energy (µWh) where its full capacity reads, else
// charge (µAh).
struct Family {
    bool energy;
    std::optional<std::int64_t> now, full, design;
};

std::optional<Family> familyOf(const Snapshot& s) {
    if (s.energyFull) return Family{true, s.energyNow, s.energyFull, s.energyFullDesign};
    if (s.chargeFull) return Family{false, s.chargeNow, s.chargeFull, s.chargeFullDesign};
    return std::nullopt;
}

std::optional<std::int64_t> nowOf(const Snapshot& s, const Family& f) {
    if (f.now) return f.now;
    std::int64_t product = 0;
    if (!s.capacity || !f.full || __builtin_mul_overflow(*s.capacity, *f.full, &product))
        return std::nullopt;
    return product / 100;
}

// Present rate in the family's unit per hour, as a positive number.
std::optional<double> rateOf(const Snapshot& s, const Family& f) {
    double r = 0;
    if (f.energy) {
        if (s.powerNow) {
            r = double(*s.powerNow);
        } else if (s.currentNow && s.voltageNow) {
            r = double(*s.currentNow) * double(*s.voltageNow) / 1e6;
        } else {
            return std::nullopt;
        }
    } else {
        if (s.currentNow) {
            r = double(*s.currentNow);
        } else if (s.powerNow && s.voltageNow && *s.voltageNow != 0) {
            r = double(*s.powerNow) / double(*s.voltageNow) * 1e6;
        } else {
            return std::nullopt;
        }
    }
    return std::fabs(r);
}

std::optional<PropertyValue> integer(std::optional<std::int64_t> v) {
    if (!v) return std::nullopt;
    return PropertyValue(*v);
}

std::optional<PropertyValue> timeRemaining(const Snapshot& s) {
    const bool charging = s.status == "Charging";
    if (!charging && s.status != "Discharging") return std::nullopt;
    double minutes = 0;
    if (const auto seconds = charging ? s.timeToFullNow : s.timeToEmptyNow) {
        minutes = double(*seconds) / 60.0;
    } else {
        const auto family = familyOf(s);
        if (!family) return std::nullopt;
        const auto now = nowOf(s, *family);
        const auto rate = rateOf(s, *family);
        if (!now || !rate || *rate == 0.0) return std::nullopt;
        const double left = charging ? double(*family->full) - double(*now) : double(*now);
        minutes = std::max(0.0, left) / *rate * 60.0;
    }
    if (!std::isfinite(minutes) || minutes < 0 || minutes > maximumMinutes) return std::nullopt;
    return PropertyValue(std::int64_t(minutes));
}

}  // namespace

std::vector<std::string_view> powerSupplyAttributes() {
    std::vector<std::string_view> names;
    for (const Attribute& a : attributes) names.push_back(a.name);
    return names;
}

bool applySupplyAttribute(PowerSupplySnapshot& supply, std::string_view attribute,
                          std::string_view text) {
    std::size_t index = 0;
    const Attribute* a = attributeNamed(attribute, index);
    if (!a) return false;
    supply.present.set(index);
    const std::string_view value = trim(text);
    if (a->text) {
        supply.*a->text = value.empty() ? std::nullopt : std::optional<std::string>(value);
    } else {
        supply.*a->number = parseSigned(value);
    }
    return true;
}

std::optional<PropertyValue> batteryProperty(std::string_view key, const PowerSupplySnapshot& s) {
    if (key == "CurrentCapacity" || key == "MaxCapacity" || key == "DesignCapacity") {
        const auto family = familyOf(s);
        if (!family) {
            // Only a percentage: the capacities are that percentage of 100.
            if (key == "CurrentCapacity") return integer(s.capacity);
            if (key == "MaxCapacity" && s.capacity) return PropertyValue(std::int64_t{100});
            return std::nullopt;
        }
        const auto raw = key == "CurrentCapacity" ? nowOf(s, *family)
                         : key == "MaxCapacity"   ? family->full
                                                  : family->design;
        if (!raw) return std::nullopt;
        return PropertyValue(*raw / 1000);
    }
    if (key == "CycleCount") {
        if (!s.cycleCount || *s.cycleCount <= 0) return std::nullopt;
        return PropertyValue(*s.cycleCount);
    }
    if (key == "Temperature") {
        std::int64_t hundredths = 0;
        if (!s.temp || __builtin_mul_overflow(*s.temp, 10, &hundredths)) return std::nullopt;
        return PropertyValue(hundredths);
    }
    if (key == "TimeRemaining") return timeRemaining(s);
    if (key == "IsCharging" || key == "FullyCharged") {
        if (!s.status) return std::nullopt;
        return PropertyValue(*s.status == (key == "IsCharging" ? "Charging" : "Full"));
    }
    if (key == "ExternalConnected") {
        if (s.externalPower) return PropertyValue(*s.externalPower);
        if (!s.status) return std::nullopt;
        return PropertyValue(*s.status != "Discharging");
    }
    if (key == "Watts") {
        // The draw, whichever way it flows.
        double watts = 0;
        if (s.powerNow) {
            watts = std::fabs(double(*s.powerNow)) / 1e6;
        } else if (s.currentNow && s.voltageNow) {
            watts = std::fabs(double(*s.currentNow) * double(*s.voltageNow)) / 1e12;
        } else {
            return std::nullopt;
        }
        if (!std::isfinite(watts)) return std::nullopt;
        return PropertyValue(watts);
    }
    if (key == "Amperage") {
        if (!s.currentNow) return std::nullopt;
        const std::int64_t milliamps = *s.currentNow / 1000;
        const bool discharging = s.status == "Discharging";
        return PropertyValue(discharging && milliamps > 0 ? -milliamps : milliamps);
    }
    return std::nullopt;
}

std::pair<std::string, std::string> whyAbsent(std::string_view key, const PowerSupplySnapshot& s) {
    const auto family = familyOf(s);
    const std::string prefix = family ? (family->energy ? "energy" : "charge") : "energy";
    std::string attribute = key == "CurrentCapacity"  ? prefix + "_now"
                            : key == "MaxCapacity"    ? prefix + "_full"
                            : key == "DesignCapacity" ? prefix + "_full_design"
                            : key == "CycleCount"     ? "cycle_count"
                            : key == "Temperature"    ? "temp"
                            : key == "TimeRemaining"  ? "time_to_empty_now"
                            : key == "Amperage"       ? "current_now"
                            : key == "Watts"          ? "power_now"
                                                      : "status";
    const std::string folder = "power_supply/" + s.name + "/";
    if (key == "TimeRemaining" && s.status != "Charging" && s.status != "Discharging")
        return {folder + "status", "neither charging nor discharging"};
    if (key == "TimeRemaining" && s.status == "Charging") attribute = "time_to_full_now";
    std::size_t index = 0;
    const bool present = attributeNamed(attribute, index) && s.present.test(index);
    if (key == "CycleCount" && s.cycleCount == 0)
        return {folder + "cycle_count", "0, which firmware writes when it does not know"};
    return {folder + attribute, present ? "unreadable or malformed" : "missing"};
}

PowerSupplySnapshot PowerFiles::identify(const std::string& name) {
    PowerSupplySnapshot supply;
    supply.name = name;
    readAttribute(supply, "type");
    if (supply.type == "Battery") readAttribute(supply, "scope");
    if (supply.type == "Mains" || supply.type == "USB") readAttribute(supply, "online");
    return supply;
}

void PowerFiles::readAttribute(PowerSupplySnapshot& supply, std::string_view attribute) {
    // A driver answers ENODEV while the battery wakes: that attribute is absent.
    std::size_t index = 0;
    if (!attributeNamed(attribute, index)) return;
    ReadBuffer& text = tickBuffer();
    const std::string path = "class/power_supply/" + supply.name + "/" + std::string(attribute);
    if (files_.read(Fs::sys, path, text)) {
        applySupplyAttribute(supply, attribute, text.view());
    } else {
        supply.present.set(index, text.failure() != ReadFailure::missing);
    }
}

void PowerFiles::complete(PowerSupplySnapshot& battery) {
    // Only what the folder holds is read: a missing attribute costs no failed open. Type
    // and scope were read when the battery was found.
    std::vector<std::string> names;
    files_.forEachEntry(Fs::sys, "class/power_supply/" + battery.name, [&](std::string_view entry) {
        std::size_t index = 0;
        if (entry != "type" && entry != "scope" && attributeNamed(entry, index))
            names.emplace_back(entry);
    });
    for (const std::string& attribute : names) readAttribute(battery, attribute);
}

std::vector<PowerSupplySnapshot> PowerFiles::batteries(std::size_t limit) {
    std::vector<std::string> names;
    files_.forEachEntryTick(Fs::sys, "class/power_supply", [&](std::string_view name) {
        if (names.size() < maximumSupplies) names.emplace_back(name);
    });
    std::sort(names.begin(), names.end());
    std::vector<PowerSupplySnapshot> batteries;
    std::optional<bool> external;
    for (const std::string& name : names) {
        PowerSupplySnapshot supply = identify(name);
        if (supply.type == "Battery" && supply.scope != "Device" && batteries.size() < limit)
            batteries.push_back(std::move(supply));
        else if (supply.online)
            external = external.value_or(false) || *supply.online == 1;
    }
    for (PowerSupplySnapshot& battery : batteries) {
        complete(battery);
        battery.externalPower = external;
    }
    return batteries;
}

std::optional<PowerSupplySnapshot> PowerFiles::machineBattery() {
    auto found = batteries(1);
    if (found.empty()) return std::nullopt;
    return std::move(found.front());
}

std::vector<PowerSupplySnapshot> PowerFiles::machineBatteries() {
    return batteries(maximumSupplies);
}

}  // namespace quillo
