#include "terminal/CellCanvas.hpp"

#include <algorithm>
#include <cmath>

namespace quillo {

namespace {

constexpr const char* eighths[9] = {" ",      "\u258F", "\u258E", "\u258D", "\u258C",
                                    "\u258B", "\u258A", "\u2589", "\u2588"};
constexpr const char* trackWithoutColour = "\u2591";  // ░

}  // namespace

void CellCanvas::fillRoundedRect(const Rect&, double, const Color& color) {
    track_ = true;
    trackColor_ = color;
}

void CellCanvas::strokeRoundCappedLine(const Point& from, const Point& to, double lineWidth,
                                       const Color& color) {
    // The caps reach half the line's width beyond each end; only the right end moves.
    const double right = std::max(from.x, to.x) + lineWidth * 0.5;
    const double left = std::min(from.x, to.x) - lineWidth * 0.5;
    if (right <= left) return;
    covered_ = int(std::clamp(std::lround(right), 0L, long(cells_) * 8));
    strokeColor_ = color;
}

std::string CellCanvas::render(ColorMode mode) const {
    std::string row;
    if (mode != ColorMode::none && track_) row += background(trackColor_, mode);
    if (mode != ColorMode::none && covered_ > 0) row += foreground(strokeColor_, mode);
    for (int cell = 0; cell < cells_; ++cell) {
        const int filled = std::clamp(covered_ - cell * 8, 0, 8);
        if (!unicode_) {
            row += filled >= 6                           ? "#"
                   : filled >= 3                         ? "="
                   : (mode == ColorMode::none && track_) ? "."
                                                         : " ";
        } else if (filled > 0) {
            row += eighths[filled];
        } else {
            row += (mode == ColorMode::none && track_) ? trackWithoutColour : " ";
        }
    }
    if (mode != ColorMode::none) row += resetAttributes;
    return row;
}

void prepareForCells(ProgressBar& bar) {
    bar.setBorderWidth(0.0);
    bar.setThickness(8.0);
    // A mid grey reads as an empty track on dark and light terminals alike.
    bar.setBackgroundTintColor({0.32, 0.32, 0.34, 1.0});
}

std::string renderBar(const ProgressBar& bar, int cells, ColorMode mode, bool unicode) {
    CellCanvas canvas(cells, unicode);
    bar.draw(canvas, cells * 8.0, 8.0);
    return canvas.render(mode);
}

}  // namespace quillo
