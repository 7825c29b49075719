#include "quillo/metrics/Battery.hpp"

#include <cmath>

#include "quillo/platform/Platform.hpp"

namespace quillo {

std::string_view Battery::rawValue(Key key) {
    switch (key) {
        case Key::ACPowered:
            return "ExternalConnected";
        case Key::Amperage:
            return "Amperage";
        case Key::CurrentCapacity:
            return "CurrentCapacity";
        case Key::CycleCount:
            return "CycleCount";
        case Key::DesignCapacity:
            return "DesignCapacity";
        case Key::DesignCycleCount:
            return "DesignCycleCount9C";
        case Key::FullyCharged:
            return "FullyCharged";
        case Key::IsCharging:
            return "IsCharging";
        case Key::MaxCapacity:
            return "MaxCapacity";
        case Key::Temperature:
            return "Temperature";
        case Key::TimeRemaining:
            return "TimeRemaining";
        case Key::Watts:
            return "Watts";
    }
    return {};
}

IOReturn Battery::open() {
    if (service != 0) return kIOReturnStillOpen;
    service = currentPlatform().IOServiceGetMatchingService("AppleSmartBattery");
    return service != 0 ? kIOReturnSuccess : kIOReturnNotFound;
}

IOReturn Battery::close() {
    const IOReturn status = currentPlatform().IOObjectRelease(service);
    service = 0;
    return status;
}

std::optional<std::int64_t> Battery::readIntProperty(io_service_t service, Key key) {
    const auto value = currentPlatform().IORegistryEntryCreateCFProperty(service, rawValue(key));
    if (!value) return std::nullopt;
    if (const auto* i = std::get_if<std::int64_t>(&*value)) return *i;
    // A whole number stored as a double reads as an integer; one that no int64 holds
    // does not.
    if (const auto* d = std::get_if<double>(&*value)) {
        if (std::trunc(*d) == *d && *d >= -9223372036854775808.0 && *d < 9223372036854775808.0) {
            return std::int64_t(*d);
        }
    }
    return std::nullopt;
}

std::optional<double> Battery::readDoubleProperty(io_service_t service, Key key) {
    const auto value = currentPlatform().IORegistryEntryCreateCFProperty(service, rawValue(key));
    if (!value) return std::nullopt;
    if (const auto* i = std::get_if<std::int64_t>(&*value)) return double(*i);
    if (const auto* d = std::get_if<double>(&*value)) return *d;
    return std::nullopt;
}

std::optional<bool> Battery::readBoolProperty(io_service_t service, Key key) {
    const auto value = currentPlatform().IORegistryEntryCreateCFProperty(service, rawValue(key));
    if (!value) return std::nullopt;
    if (const auto* b = std::get_if<bool>(&*value)) return *b;
    return std::nullopt;
}

std::optional<double> Battery::charge() const {
    const auto c = readIntProperty(service, Key::CurrentCapacity);
    const auto m = readIntProperty(service, Key::MaxCapacity);
    if (!c || !m) return std::nullopt;
    // Multiplying first keeps whole percentages whole: 57 ÷ 100 × 100 is
    // 56.99999999999999 in doubles, which would floor to 56.
    return std::floor(double(*c) * 100.0 / double(*m));
}

std::optional<std::int64_t> Battery::currentCapacity() const {
    return readIntProperty(service, Key::CurrentCapacity);
}
std::optional<std::int64_t> Battery::maxCapactiy() const {
    return readIntProperty(service, Key::MaxCapacity);
}
std::optional<std::int64_t> Battery::designCapacity() const {
    return readIntProperty(service, Key::DesignCapacity);
}
std::optional<std::int64_t> Battery::cycleCount() const {
    return readIntProperty(service, Key::CycleCount);
}
std::optional<std::int64_t> Battery::designCycleCount() const {
    return readIntProperty(service, Key::DesignCycleCount);
}
std::optional<std::int64_t> Battery::timeRemaining() const {
    return readIntProperty(service, Key::TimeRemaining);
}

std::optional<std::string> Battery::timeRemainingFormatted() const {
    const auto t = readIntProperty(service, Key::TimeRemaining);
    if (!t) return std::nullopt;
    const std::int64_t h = *t / 60;
    const std::int64_t r = *t - 60 * h;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(h),
                  static_cast<long long>(r));
    return std::string(text);
}

std::optional<double> Battery::temperature(TemperatureUnit unit) const {
    const auto t = readDoubleProperty(service, Key::Temperature);
    if (!t) return std::nullopt;
    const double c = *t / 100.0;
    switch (unit) {
        case TemperatureUnit::celsius:
            return std::ceil(c);
        case TemperatureUnit::fahrenheit:
            return std::ceil(c * 1.8 + 32.0);
        case TemperatureUnit::kelvin:
            return std::ceil(c + 273.15);
    }
    return std::nullopt;
}

std::optional<bool> Battery::isCharging() const {
    return readBoolProperty(service, Key::IsCharging);
}
std::optional<bool> Battery::isCharged() const {
    return readBoolProperty(service, Key::FullyCharged);
}
std::optional<bool> Battery::isACPowered() const {
    return readBoolProperty(service, Key::ACPowered);
}

std::optional<double> Battery::watts() const {
    return readDoubleProperty(service, Key::Watts);
}

}  // namespace quillo
