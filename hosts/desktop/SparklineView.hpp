#pragma once

#include <QWidget>
#include <array>
#include <cmath>

#include "quillo/widget/ExtraRows.hpp"

namespace quillo {

// A bar's last five minutes beside it: a column a cell, as tall as the cell's mean
// share, in the row's text colour softened; nothing where a cell had no point.
class SparklineView : public QWidget {
    Q_OBJECT

  public:
    using Cells = std::array<double, Sparkline::cells>;
    explicit SparklineView(QWidget* parent = nullptr);

    void setCells(const Cells& cells);
    const Cells& cells() const { return cells_; }

    QSize sizeHint() const override {
        return {int(std::lround((4 * Sparkline::cells + 2) * scale_)),
                int(std::lround(14 * scale_))};
    }
    void setScale(double scale) {
        scale_ = scale;
        updateGeometry();
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Cells cells_;
    double scale_ = 1;
};

}  // namespace quillo
