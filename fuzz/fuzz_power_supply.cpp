// power_supply values: the input is a folder's attributes as "name=value" lines.
#include <string_view>

#include "quillo/platform/Text.hpp"
#include "quillo/platform/linux/Power.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    quillo::PowerSupplySnapshot battery;
    battery.name = "BAT0";
    quillo::forEachLine(text, [&](std::string_view line) {
        const auto equals = line.find('=');
        if (equals != std::string_view::npos)
            quillo::applySupplyAttribute(battery, line.substr(0, equals), line.substr(equals + 1));
        return true;
    });
    for (const char* key :
         {"CurrentCapacity", "MaxCapacity", "DesignCapacity", "CycleCount", "Temperature",
          "TimeRemaining", "IsCharging", "FullyCharged", "ExternalConnected", "Amperage"}) {
        (void)quillo::batteryProperty(key, battery);
        (void)quillo::whyAbsent(key, battery);
    }
    return 0;
}
