#include "desktop/SparklineView.hpp"

#include <QPainter>
#include <cmath>
#include <limits>

namespace quillo {

SparklineView::SparklineView(QWidget* parent) : QWidget(parent) {
    cells_.fill(std::numeric_limits<double>::quiet_NaN());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SparklineView::setCells(const Cells& cells) {
    const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    if (std::equal(cells.begin(), cells.end(), cells_.begin(), same)) return;
    cells_ = cells;
    update();
}

void SparklineView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QColor colour = palette().color(QPalette::WindowText);
    colour.setAlphaF(0.55f);
    const double column = double(width() - 2) / Sparkline::cells;
    const double floor = height() - 1;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        if (!std::isfinite(cells_[i])) continue;
        // A sliver at 0 %, so that a quiet minute still shows it was measured.
        const double h = std::max(1.0, cells_[i] / 100.0 * (height() - 2));
        p.fillRect(QRectF(1 + column * double(i), floor - h, column - 1, h), colour);
    }
}

}  // namespace quillo
