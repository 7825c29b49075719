#include "quillo/settings/RefreshRate.hpp"

#include <algorithm>
#include <cctype>

namespace quillo {

std::optional<RefreshRate> refreshRateNamed(std::string_view text) {
    for (const RefreshRate rate : allRefreshRates) {
        const std::string_view n = name(rate);
        if (n.size() == text.size() &&
            std::equal(n.begin(), n.end(), text.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            })) {
            return rate;
        }
    }
    return std::nullopt;
}

}  // namespace quillo
