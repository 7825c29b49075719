#include "quillo/widget/Levels.hpp"

#include <utility>

#include "quillo/settings/Keys.hpp"
#include "quillo/settings/Rows.hpp"

namespace quillo {

ColorLevel usageColorLevel(double p) {
    if (p >= 80.0) return ColorLevel::critical;
    if (p >= 50.0) return ColorLevel::warning;
    return ColorLevel::normal;
}

ColorLevel batteryColorLevel(double c) {
    return (c >= 0.0 && c < 20.0) ? ColorLevel::critical : ColorLevel::normal;
}

namespace {

constexpr std::pair<ColorLevel, std::string_view> colorKeys[] = {
    {ColorLevel::normal, "NormalColorKey"},
    {ColorLevel::warning, "WarningColorKey"},
    {ColorLevel::critical, "CriticalColorKey"}};

}  // namespace

std::string_view colorKey(ColorLevel level) {
    for (const auto& [l, key] : colorKeys) {
        if (l == level) return key;
    }
    return colorKeys[2].second;
}

std::optional<ColorLevel> levelOfColorKey(std::string_view key) {
    for (const auto& [level, k] : colorKeys) {
        if (k == key) return level;
    }
    return std::nullopt;
}

Color levelColor(ColorLevel level, const Configuration& config) {
    if (auto stored = config.colorComponents(colorKey(level)))
        return colorWithComponents(std::move(*stored));
    return paletteColor(level, chosenPalette(config));
}

Palette chosenPalette(const Configuration& config) {
    return choiceSetting(config, *findSettingKey(paletteKey)) == paletteNames[1]
               ? Palette::colorblind
               : Palette::standard;
}

}  // namespace quillo
