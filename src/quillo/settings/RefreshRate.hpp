#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace quillo {

// The companion's four refresh choices. The suite stores seconds, never a choice;
// this pairing is made here, where the value is written.
enum class RefreshRate { fast, normal, slow, verySlow };

inline constexpr std::array<RefreshRate, 4> allRefreshRates = {
    RefreshRate::fast, RefreshRate::normal, RefreshRate::slow, RefreshRate::verySlow};

constexpr double seconds(RefreshRate rate) {
    switch (rate) {
        case RefreshRate::fast:
            return 0.5;
        case RefreshRate::normal:
            return 1.0;
        case RefreshRate::slow:
            return 2.0;
        case RefreshRate::verySlow:
            return 5.0;
    }
    return 1.0;
}

constexpr std::string_view name(RefreshRate rate) {
    switch (rate) {
        case RefreshRate::fast:
            return "fast";
        case RefreshRate::normal:
            return "normal";
        case RefreshRate::slow:
            return "slow";
        case RefreshRate::verySlow:
            return "verySlow";
    }
    return "normal";
}

// Bounds of an interval a timer can honour: faster would spin the machine it
// watches, slower than a day overflows timer services that count milliseconds.
inline constexpr double minimumRefreshInterval = 0.1;
inline constexpr double maximumRefreshInterval = 86400.0;
inline constexpr double defaultRefreshInterval = 1.0;

// Case-insensitive, so "veryslow" typed in a shell is understood.
std::optional<RefreshRate> refreshRateNamed(std::string_view text);

}  // namespace quillo
