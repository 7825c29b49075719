#include "quillo/ui/ProgressBar.hpp"

#include <cmath>

namespace quillo {

namespace {

bool finite(std::initializer_list<double> values) {
    for (const double v : values) {
        if (!std::isfinite(v)) return false;
    }
    return true;
}

}  // namespace

void ProgressBar::draw(Canvas& canvas, double w, double h) const {
    const double bw = borderWidth_;
    const double t = thickness_;
    canvas.saveGraphicsState();

    const Rect track{bw * 0.5, bw * 0.5 + ((h - t) - 2.0 * bw) * 0.5, w - bw, bw + t};
    const double radius = (bw * 0.5 + t) * 0.5;
    if (finite({track.x, track.y, track.width, track.height, radius, bw})) {
        canvas.strokeRoundedRect(track, radius, bw, borderTintColor_);
        canvas.fillRoundedRect(track, radius, backgroundTintColor_);
    }

    // A difference that is not a number is not 0, so it goes on to the fraction.
    if (current_ - minimum_ != 0.0) {
        double f = (current_ - minimum_) / (maximum_ - minimum_);
        // Checked before the cap, which would turn +infinity into a full bar.
        const bool meaningful = std::isfinite(f);
        if (f > 1.0) f = 1.0;
        const Point start{t * 0.5 + bw, h * 0.5};
        const Point end{(w - (bw + bw + t)) * f + (t * 0.5 + bw), h * 0.5};
        if (meaningful && finite({start.x, start.y, end.x, end.y, t})) {
            canvas.strokeRoundCappedLine(start, end, t, tintColor_);
        }
    }

    canvas.restoreGraphicsState();
}

}  // namespace quillo
