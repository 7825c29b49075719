#include "quillo/metrics/Device.hpp"

#include <algorithm>

#include "quillo/platform/Platform.hpp"

namespace quillo {

namespace {

GlobalNetworkState stateOf(const char* key) {
    const auto value = currentPlatform().copyDynamicStoreValue(key);
    const auto* dictionary = value ? std::get_if<PropertyDictionary>(&*value) : nullptr;
    if (!dictionary) return {};
    const bool allText = std::all_of(dictionary->begin(), dictionary->end(), [](const auto& entry) {
        return std::holds_alternative<std::string>(entry.second);
    });
    if (!allText) return {};
    const auto field = [&](const char* name) -> std::optional<std::string> {
        const auto it = dictionary->find(name);
        if (it == dictionary->end()) return std::nullopt;
        return std::get<std::string>(it->second);
    };
    GlobalNetworkState state{field(kSCPropNetPrimaryInterface), field(kSCPropNetRouter),
                             field(kSCPropNetPrimaryService)};
    if (state.primaryService) {
        for (char& c : *state.primaryService) {
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        }
    }
    return state;
}

}  // namespace

Device& Device::shared() {
    static Device device;
    return device;
}

std::pair<GlobalNetworkState, GlobalNetworkState> Device::globalNetworkState() const {
    GlobalNetworkState ipv4 = stateOf(kGlobalIPv4StateKey);
    GlobalNetworkState ipv6 = stateOf(kGlobalIPv6StateKey);
    return {std::move(ipv4), std::move(ipv6)};
}

std::optional<std::string> primaryInterfaceToMeasure() {
    auto [ipv4, ipv6] = Device::shared().globalNetworkState();
    return ipv6.primaryInterface ? std::move(ipv6.primaryInterface)
                                 : std::move(ipv4.primaryInterface);
}

}  // namespace quillo
