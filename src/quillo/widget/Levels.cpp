#include "quillo/widget/Levels.hpp"

namespace quillo {

ColorLevel usageColorLevel(double p) {
    if (p >= 80.0) return ColorLevel::critical;
    if (p >= 50.0) return ColorLevel::warning;
    return ColorLevel::normal;
}

ColorLevel batteryColorLevel(double c) {
    return (c >= 0.0 && c < 20.0) ? ColorLevel::critical : ColorLevel::normal;
}

Color levelColor(ColorLevel level, const Configuration& config) {
    const std::string& key = level == ColorLevel::normal    ? config.normalColorKey
                             : level == ColorLevel::warning ? config.warningColorKey
                                                            : config.criticalColorKey;
    if (auto stored = config.colorComponents(key)) return colorWithComponents(std::move(*stored));
    return paletteColor(level);
}

}  // namespace quillo
