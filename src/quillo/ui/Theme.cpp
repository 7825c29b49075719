#include "quillo/ui/Theme.hpp"

namespace quillo {

namespace {

Color fromFloats(float r, float g, float b, float a) {
    return {r, g, b, a};
}

}  // namespace

namespace Theme {

const Color& normalColor() {
    static const Color color = fromFloats(0.168f, 0.674f, 0.176f, 1.0f);
    return color;
}

const Color& warningColor() {
    static const Color color = fromFloats(0.878f, 0.627f, 0.156f, 1.0f);
    return color;
}

const Color& criticalColor() {
    static const Color color = fromFloats(0.819f, 0.282f, 0.247f, 1.0f);
    return color;
}

}  // namespace Theme

std::vector<double> components(const Color& color) {
    return {color.red, color.green, color.blue, color.alpha};
}

Color colorWithComponents(std::vector<double> c) {
    while (c.size() < 4) c.push_back(1.0);
    return {c[0], c[1], c[2], c[3]};
}

const Color& paletteColor(ColorLevel level, Palette palette) {
    if (palette == Palette::colorblind) {
        static const Color blue{0.0, 114 / 255.0, 178 / 255.0, 1.0};
        static const Color orange{230 / 255.0, 159 / 255.0, 0.0, 1.0};
        static const Color vermilion{213 / 255.0, 94 / 255.0, 0.0, 1.0};
        return level == ColorLevel::normal    ? blue
               : level == ColorLevel::warning ? orange
                                              : vermilion;
    }
    switch (level) {
        case ColorLevel::normal:
            return Theme::normalColor();
        case ColorLevel::warning:
            return Theme::warningColor();
        case ColorLevel::critical:
            return Theme::criticalColor();
    }
    return Theme::normalColor();
}

}  // namespace quillo
