#pragma once

#include <optional>
#include <string>
#include <utility>

namespace quillo {

// What the system reports as primary for one address family.
struct GlobalNetworkState {
    std::optional<std::string> primaryInterface;
    std::optional<std::string> router;
    std::optional<std::string> primaryService;  // lower case
    friend bool operator==(const GlobalNetworkState&, const GlobalNetworkState&) = default;
};

// Asks the network configuration which interfaces are primary. Keeps no state.
class Device {
  public:
    static Device& shared();

    // IPv4 first, IPv6 second. A family whose state cannot be read, or holds anything
    // but text, has every field absent; a missing key leaves only its field absent.
    std::pair<GlobalNetworkState, GlobalNetworkState> globalNetworkState() const;
};

// The interface whose traffic stands for the machine's: the IPv6 primary interface,
// else the IPv4 one (the panel's network row and `quillo sample` measure the same).
std::optional<std::string> primaryInterfaceToMeasure();

}  // namespace quillo
