#include "terminal/Ansi.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace quillo {

namespace {

int channel(double component) {
    if (!std::isfinite(component)) return 0;
    return int(std::lround(std::clamp(component, 0.0, 1.0) * 255.0));
}

std::string sgr(const Color& c, ColorMode mode, int base) {
    switch (mode) {
        case ColorMode::none:
            return {};
        case ColorMode::palette256:
            return "\x1b[" + std::to_string(base) + ";5;" + std::to_string(xterm256(c)) + "m";
        case ColorMode::truecolor:
            return "\x1b[" + std::to_string(base) + ";2;" + std::to_string(channel(c.red)) + ";" +
                   std::to_string(channel(c.green)) + ";" + std::to_string(channel(c.blue)) + "m";
    }
    return {};
}

}  // namespace

ColorMode colorModeFor(const char* noColor, const char* colorTerm, bool outputIsTerminal) {
    if (!outputIsTerminal || (noColor && *noColor)) return ColorMode::none;
    const std::string_view term = colorTerm ? colorTerm : "";
    return term == "truecolor" || term == "24bit" ? ColorMode::truecolor : ColorMode::palette256;
}

int xterm256(const Color& color) {
    static constexpr int levels[6] = {0, 95, 135, 175, 215, 255};
    const int rgb[3] = {channel(color.red), channel(color.green), channel(color.blue)};
    const auto nearestLevel = [](int v) {
        int best = 0;
        for (int i = 1; i < 6; ++i) {
            if (std::abs(levels[i] - v) < std::abs(levels[best] - v)) best = i;
        }
        return best;
    };
    const int r = nearestLevel(rgb[0]), g = nearestLevel(rgb[1]), b = nearestLevel(rgb[2]);
    const auto distance = [&](int x, int y, int z) {
        return (x - rgb[0]) * (x - rgb[0]) + (y - rgb[1]) * (y - rgb[1]) +
               (z - rgb[2]) * (z - rgb[2]);
    };
    const int cube = 16 + 36 * r + 6 * g + b;
    const int cubeDistance = distance(levels[r], levels[g], levels[b]);
    // The grey ramp runs 8, 18, ..., 238 and often beats the cube for greys.
    const int average = (rgb[0] + rgb[1] + rgb[2]) / 3;
    const int grey = std::clamp((average - 8 + 5) / 10, 0, 23);
    const int greyLevel = 8 + 10 * grey;
    return distance(greyLevel, greyLevel, greyLevel) < cubeDistance ? 232 + grey : cube;
}

std::string foreground(const Color& color, ColorMode mode) {
    return sgr(color, mode, 38);
}
std::string background(const Color& color, ColorMode mode) {
    return sgr(color, mode, 48);
}

}  // namespace quillo
