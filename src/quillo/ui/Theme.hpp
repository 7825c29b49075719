#pragma once

#include <vector>

#include "quillo/ui/Color.hpp"

namespace quillo {

enum class ColorLevel { normal, warning, critical };

// The palette of the three levels. Components are single-precision values, as the
// colours were first defined (0.168 reads 0.1679999977350235 as a double).
namespace Theme {
const Color& normalColor();
const Color& warningColor();
const Color& criticalColor();
}  // namespace Theme

// The grey of a bar that has nothing to show.
inline constexpr Color lightGrayColor{2.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0, 1.0};

// [red, green, blue, alpha]: the form in which the settings store a colour.
std::vector<double> components(const Color& color);

// A colour from stored components: missing ones are 1.0 (so [] is white), extra ones
// are ignored, nothing is clamped.
Color colorWithComponents(std::vector<double> components);

// The level colours where none is set: the standard green, amber and red, or blue,
// orange and vermilion, which readers with any of the common colour-vision deficiencies
// tell apart (Okabe and Ito's).
enum class Palette { standard, colorblind };

// The palette's colour of a level.
const Color& paletteColor(ColorLevel level, Palette palette = Palette::standard);

}  // namespace quillo
