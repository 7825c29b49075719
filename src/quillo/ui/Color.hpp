#pragma once

namespace quillo {

// Components on the scale 0 to 1, unclamped, in the device-independent RGB space.
struct Color {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace quillo
