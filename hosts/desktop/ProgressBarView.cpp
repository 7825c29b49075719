#include "desktop/ProgressBarView.hpp"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace quillo {

namespace {

QColor toQColor(const Color& c) {
    // Stored colours are never clamped; the screen needs values it can show.
    const auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
    return QColor::fromRgbF(float(unit(c.red)), float(unit(c.green)), float(unit(c.blue)),
                            float(unit(c.alpha)));
}

// Flips the canvas's lower-left origin onto Qt's upper-left one and draws antialiased,
// so bars stay crisp at any device pixel ratio.
class PainterCanvas final : public Canvas {
  public:
    PainterCanvas(QPainter& painter, double height) : p_(painter) {
        p_.setRenderHint(QPainter::Antialiasing);
        p_.translate(0, height);
        p_.scale(1, -1);
    }
    void saveGraphicsState() override { p_.save(); }
    void restoreGraphicsState() override { p_.restore(); }
    void strokeRoundedRect(const Rect& r, double radius, double width, const Color& c) override {
        p_.setPen(QPen(toQColor(c), width));
        p_.setBrush(Qt::NoBrush);
        p_.drawRoundedRect(QRectF(r.x, r.y, r.width, r.height), radius, radius);
    }
    void fillRoundedRect(const Rect& r, double radius, const Color& c) override {
        p_.setPen(Qt::NoPen);
        p_.setBrush(toQColor(c));
        p_.drawRoundedRect(QRectF(r.x, r.y, r.width, r.height), radius, radius);
    }
    void strokeRoundCappedLine(const Point& a, const Point& b, double width,
                               const Color& c) override {
        p_.setPen(QPen(toQColor(c), width, Qt::SolidLine, Qt::RoundCap));
        p_.drawLine(QPointF(a.x, a.y), QPointF(b.x, b.y));
    }

  private:
    QPainter& p_;
};

}  // namespace

ProgressBarView::ProgressBarView(QWidget* parent)
    : QWidget(parent), bar_(std::make_shared<ProgressBar>()) {
    bar_->setNeedsDisplayHandler([this] { update(); });
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize ProgressBarView::sizeHint() const {
    const Size fitting = bar_->fittingSize();
    // Wide enough to read a share at a glance; as tall as the bar's own fitting height.
    return {std::max(160, int(std::ceil(fitting.width))),
            std::max(14, int(std::ceil(fitting.height)) + 2)};
}

QSize ProgressBarView::minimumSizeHint() const {
    const Size fitting = bar_->fittingSize();
    return {int(std::ceil(fitting.width)) * 3, std::max(14, int(std::ceil(fitting.height)) + 2)};
}

void ProgressBarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PainterCanvas canvas(painter, height());
    bar_->draw(canvas, width(), height());
}

}  // namespace quillo
