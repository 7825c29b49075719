// power_supply values: the input is a folder's attributes as "name=value" lines.
#include <map>
#include <string>
#include <string_view>

#include "platform/linux/Parsers.hpp"
#include "platform/linux/PowerSupply.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::string, std::less<>> attributes;
    quillo::forEachLine(text, [&](std::string_view line) {
        const auto equals = line.find('=');
        if (equals != std::string_view::npos)
            attributes[std::string(line.substr(0, equals))] = line.substr(equals + 1);
        return true;
    });
    const quillo::SupplyAttribute attribute =
        [&](std::string_view name) -> std::optional<std::string> {
        const auto it = attributes.find(name);
        if (it == attributes.end() || quillo::trim(it->second).empty()) return std::nullopt;
        return std::string(quillo::trim(it->second));
    };
    for (const char* key :
         {"CurrentCapacity", "MaxCapacity", "DesignCapacity", "CycleCount", "Temperature",
          "TimeRemaining", "IsCharging", "FullyCharged", "ExternalConnected", "Amperage"}) {
        (void)quillo::batteryProperty(key, attribute, [] { return std::optional<bool>(); });
    }
    return 0;
}
