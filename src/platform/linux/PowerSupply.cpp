#include "platform/linux/PowerSupply.hpp"

#include <cmath>
#include <cstdint>

#include "platform/linux/Parsers.hpp"

namespace quillo {

namespace {

constexpr double maximumMinutes = 100 * 60;

class Supply {
  public:
    explicit Supply(const SupplyAttribute& attribute) : attribute_(attribute) {}

    std::optional<std::int64_t> number(std::string_view name) const {
        const auto text = attribute_(name);
        return text ? parseSigned(*text) : std::nullopt;
    }
    std::optional<std::string> text(std::string_view name) const { return attribute_(name); }

    // "energy" or "charge": the family whose full capacity reads; absent when neither.
    std::optional<std::string> family() const {
        for (const char* f : {"energy", "charge"}) {
            if (number(std::string(f) + "_full")) return f;
        }
        return std::nullopt;
    }

    std::optional<std::int64_t> now(const std::string& family) const {
        if (const auto n = number(family + "_now")) return n;
        const auto percent = number("capacity");
        const auto full = number(family + "_full");
        std::int64_t product = 0;
        if (!percent || !full || __builtin_mul_overflow(*percent, *full, &product))
            return std::nullopt;
        return product / 100;
    }

    // Present rate in the family's unit per hour, as a positive number.
    std::optional<double> rate(const std::string& family) const {
        const auto power = number("power_now");
        const auto current = number("current_now");
        const auto voltage = number("voltage_now");
        double r = 0;
        if (family == "energy") {
            if (power) {
                r = double(*power);
            } else if (current && voltage) {
                r = double(*current) * double(*voltage) / 1e6;
            } else {
                return std::nullopt;
            }
        } else {
            if (current) {
                r = double(*current);
            } else if (power && voltage && *voltage != 0) {
                r = double(*power) / double(*voltage) * 1e6;
            } else {
                return std::nullopt;
            }
        }
        return std::fabs(r);
    }

  private:
    const SupplyAttribute& attribute_;
};

std::optional<PropertyValue> integer(std::optional<std::int64_t> v) {
    if (!v) return std::nullopt;
    return PropertyValue(*v);
}

std::optional<PropertyValue> timeRemaining(const Supply& s) {
    const auto status = s.text("status");
    const bool charging = status == "Charging";
    if (!charging && status != "Discharging") return std::nullopt;
    double minutes = 0;
    if (const auto seconds = s.number(charging ? "time_to_full_now" : "time_to_empty_now")) {
        minutes = double(*seconds) / 60.0;
    } else {
        const auto family = s.family();
        if (!family) return std::nullopt;
        const auto now = s.now(*family);
        const auto full = s.number(*family + "_full");
        const auto rate = s.rate(*family);
        if (!now || !full || !rate || *rate == 0.0) return std::nullopt;
        const double left = charging ? double(*full) - double(*now) : double(*now);
        minutes = std::max(0.0, left) / *rate * 60.0;
    }
    if (!std::isfinite(minutes) || minutes < 0 || minutes > maximumMinutes) return std::nullopt;
    return PropertyValue(std::int64_t(minutes));
}

}  // namespace

std::optional<PropertyValue> batteryProperty(
    std::string_view key, const SupplyAttribute& attribute,
    const std::function<std::optional<bool>()>& externalPower) {
    const Supply s(attribute);
    if (key == "CurrentCapacity" || key == "MaxCapacity" || key == "DesignCapacity") {
        const auto family = s.family();
        if (!family) {
            // Only a percentage: the capacities are that percentage of 100.
            if (key == "CurrentCapacity") return integer(s.number("capacity"));
            if (key == "MaxCapacity" && s.number("capacity"))
                return PropertyValue(std::int64_t{100});
            return std::nullopt;
        }
        const auto raw = key == "CurrentCapacity" ? s.now(*family)
                         : key == "MaxCapacity"   ? s.number(*family + "_full")
                                                  : s.number(*family + "_full_design");
        if (!raw) return std::nullopt;
        return PropertyValue(*raw / 1000);
    }
    if (key == "CycleCount") {
        const auto cycles = s.number("cycle_count");
        if (!cycles || *cycles <= 0) return std::nullopt;
        return PropertyValue(*cycles);
    }
    if (key == "Temperature") {
        const auto tenths = s.number("temp");
        std::int64_t hundredths = 0;
        if (!tenths || __builtin_mul_overflow(*tenths, 10, &hundredths)) return std::nullopt;
        return PropertyValue(hundredths);
    }
    if (key == "TimeRemaining") return timeRemaining(s);
    if (key == "IsCharging" || key == "FullyCharged") {
        const auto status = s.text("status");
        if (!status) return std::nullopt;
        return PropertyValue(*status == (key == "IsCharging" ? "Charging" : "Full"));
    }
    if (key == "ExternalConnected") {
        if (const auto online = externalPower()) return PropertyValue(*online);
        const auto status = s.text("status");
        if (!status) return std::nullopt;
        return PropertyValue(*status != "Discharging");
    }
    if (key == "Amperage") {
        const auto current = s.number("current_now");
        if (!current) return std::nullopt;
        const std::int64_t milliamps = *current / 1000;
        const bool discharging = s.text("status") == "Discharging";
        return PropertyValue(discharging && milliamps > 0 ? -milliamps : milliamps);
    }
    return std::nullopt;
}

}  // namespace quillo
