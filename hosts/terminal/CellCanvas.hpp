#pragma once

#include <string>

#include "quillo/ui/Canvas.hpp"
#include "quillo/ui/ProgressBar.hpp"
#include "terminal/Ansi.hpp"

namespace quillo {

// A bar's row of character cells. The bar draws on it as on any canvas, in eighths of
// a cell: the track becomes the row's background and the round-capped stroke the
// cells it covers, the last one drawn with a left eighth block (▏ to █). Where the
// terminal's character set has no blocks, the stroke is '#' for a full cell and '='
// for a half, on a track of '.'.
class CellCanvas final : public Canvas {
  public:
    explicit CellCanvas(int cells, bool unicode = true) : cells_(cells), unicode_(unicode) {}

    void saveGraphicsState() override {}
    void restoreGraphicsState() override {}
    void strokeRoundedRect(const Rect&, double, double, const Color&) override {}
    void fillRoundedRect(const Rect& rect, double radius, const Color& color) override;
    void strokeRoundCappedLine(const Point& from, const Point& to, double lineWidth,
                               const Color& color) override;

    // The row as text: a stroke over the track, or the track alone.
    std::string render(ColorMode mode) const;

    // The eighths the stroke covers from the left edge, 0 when there is none.
    int coveredEighths() const { return covered_; }
    bool hasTrack() const { return track_; }

  private:
    int cells_;
    bool unicode_;
    bool track_ = false;
    Color trackColor_;
    int covered_ = 0;
    Color strokeColor_;
};

// Sets a bar up for cells: no outline and a stroke one cell high, so that its round
// caps end exactly at the row's ends when full.
void prepareForCells(ProgressBar& bar);

// Draws the bar into a row of the given number of cells.
std::string renderBar(const ProgressBar& bar, int cells, ColorMode mode, bool unicode = true);

}  // namespace quillo
