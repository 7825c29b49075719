#pragma once

#include <optional>
#include <string_view>

#include "quillo/settings/Configuration.hpp"
#include "quillo/ui/Theme.hpp"

namespace quillo {

// Which level a figure is at, and the colour a level is drawn in.

// CPU, memory and disk: normal below 50, warning from 50, critical from 80 (infinity
// included), decided on the unrounded value; a negative or not-a-number value is normal.
ColorLevel usageColorLevel(double percent);

// Battery: critical from 0 to below 20, normal otherwise (not-a-number included).
ColorLevel batteryColorLevel(double charge);

// The settings key a level's colour is stored under, and the level of such a key: the
// one table the panel, the alerts, the tray, Preferences and `quillo settings` share.
std::string_view colorKey(ColorLevel level);
std::optional<ColorLevel> levelOfColorKey(std::string_view key);

// The colour of a level now: the one stored under the level's key, else the chosen
// palette's, as the settings stand for the current refresh.
Color levelColor(ColorLevel level, const Configuration& config);

// The Palette setting's choice; anything but "colorblind" stored reads as the default.
Palette chosenPalette(const Configuration& config);

}  // namespace quillo
