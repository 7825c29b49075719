#include "desktop/ProgressBarView.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>
#include <algorithm>
#include <cmath>
#include <utility>

namespace quillo {

namespace {

// Flips the canvas's lower-left origin onto Qt's upper-left one and draws antialiased,
// so bars stay crisp at any device pixel ratio.
class PainterCanvas final : public Canvas {
  public:
    // Which of the bar's parts this canvas paints: the track changes only with the
    // bar's size and colours, so it is painted once into a pixmap and reused.
    enum class Parts { track, stroke };

    PainterCanvas(QPainter& painter, double height, Parts parts) : p_(painter), parts_(parts) {
        p_.setRenderHint(QPainter::Antialiasing);
        p_.translate(0, height);
        p_.scale(1, -1);
    }
    void saveGraphicsState() override { p_.save(); }
    void restoreGraphicsState() override { p_.restore(); }
    void strokeRoundedRect(const Rect& r, double radius, double width, const Color& c) override {
        if (parts_ != Parts::track) return;
        p_.setPen(QPen(toQColor(c), width));
        p_.setBrush(Qt::NoBrush);
        p_.drawRoundedRect(QRectF(r.x, r.y, r.width, r.height), radius, radius);
    }
    void fillRoundedRect(const Rect& r, double radius, const Color& c) override {
        if (parts_ != Parts::track) return;
        p_.setPen(Qt::NoPen);
        p_.setBrush(toQColor(c));
        p_.drawRoundedRect(QRectF(r.x, r.y, r.width, r.height), radius, radius);
    }
    void strokeRoundCappedLine(const Point& a, const Point& b, double width,
                               const Color& c) override {
        if (parts_ != Parts::stroke) return;
        p_.setPen(QPen(toQColor(c), width, Qt::SolidLine, Qt::RoundCap));
        p_.drawLine(QPointF(a.x, a.y), QPointF(b.x, b.y));
    }

  private:
    QPainter& p_;
    Parts parts_;
};

// A bar as screen readers take it: a progress bar named after its row (the window
// names it), its value the share it shows in percent.
class BarAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit BarAccessible(ProgressBarView* view)
        : QAccessibleWidget(view, QAccessible::ProgressBar) {}
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QVariant currentValue() const override {
        return static_cast<const ProgressBarView*>(widget())->percent();
    }
    void setCurrentValue(const QVariant&) override {}  // a figure is read, never set
    QVariant maximumValue() const override { return 100.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 1.0; }
};

QAccessibleInterface* barAccessible(const QString& key, QObject* object) {
    if (key != QLatin1String(ProgressBarView::staticMetaObject.className())) return nullptr;
    return new BarAccessible(static_cast<ProgressBarView*>(object));
}

}  // namespace

QColor toQColor(const Color& c) {
    const auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
    return QColor::fromRgbF(float(unit(c.red)), float(unit(c.green)), float(unit(c.blue)),
                            float(unit(c.alpha)));
}

ProgressBarView::ProgressBarView(QWidget* parent)
    : ProgressBarView(std::make_shared<ProgressBar>(), parent) {}

ProgressBarView::ProgressBarView(std::shared_ptr<ProgressBar> bar, QWidget* parent)
    : QWidget(parent), bar_(std::move(bar)) {
    static const bool factory = (QAccessible::installFactory(barAccessible), true);
    (void)factory;
    bar_->setNeedsDisplayHandler([this] {
        if (!painted_ || !(*painted_ == look())) update();
        if (const double now = percent(); now != announced_ && QAccessible::isActive()) {
            announced_ = now;
            QAccessibleValueChangeEvent changed(this, now);
            QAccessible::updateAccessibility(&changed);
        }
    });
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize ProgressBarView::sizeHint() const {
    const Size fitting = bar_->fittingSize();
    // Wide enough to read a share at a glance; as tall as the bar's own fitting height.
    return {int(std::ceil(std::max(double(preferredWidth_), fitting.width) * scale_)),
            int(std::ceil(std::max(14.0, std::ceil(fitting.height) + 2) * scale_))};
}

QSize ProgressBarView::minimumSizeHint() const {
    const Size fitting = bar_->fittingSize();
    return {int(std::ceil(std::ceil(fitting.width) * 3 * scale_)), sizeHint().height()};
}

void ProgressBarView::focusInEvent(QFocusEvent* event) {
    keyboardFocus_ =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (keyboardFocus_) update();
    QWidget::focusInEvent(event);
}

void ProgressBarView::focusOutEvent(QFocusEvent* event) {
    if (std::exchange(keyboardFocus_, false)) update();
    QWidget::focusOutEvent(event);
}

double ProgressBarView::percent() const {
    const ProgressBar& b = *bar_;
    const double share = (b.current() - b.minimum()) / (b.maximum() - b.minimum());
    return std::isfinite(share) ? std::round(std::clamp(share, 0.0, 1.0) * 100) : 0.0;
}

void ProgressBarView::setScale(double scale, int preferredWidth) {
    if (scale == scale_ && preferredWidth == preferredWidth_) return;
    scale_ = scale;
    preferredWidth_ = preferredWidth;
    updateGeometry();
    update();
}

ProgressBarView::Look ProgressBarView::look() const {
    const ProgressBar& b = *bar_;
    // Memory and disk move by a few bytes every tick; what matters is whether the
    // stroke's end moves on the screen.
    const double f = std::min((b.current() - b.minimum()) / (b.maximum() - b.minimum()), 1.0);
    const double pixels = f * width() * devicePixelRatioF() * 4.0;
    const long long stroke = b.current() - b.minimum() == 0.0 ? -1
                             : std::isfinite(pixels) ? std::llround(std::clamp(pixels, -1e12, 1e12))
                                                     : -2;
    return {stroke,
            b.borderWidth(),
            b.thickness(),
            b.tintColor(),
            b.borderTintColor(),
            b.backgroundTintColor(),
            width(),
            height(),
            scale_};
}

void ProgressBarView::paintEvent(QPaintEvent*) {
    const Look now = look();
    painted_ = now;
    const qreal ratio = devicePixelRatioF();
    Look trackLook = now;
    trackLook.stroke = 0;
    if (track_.isNull() || !trackLook_ || !(*trackLook_ == trackLook) ||
        track_.devicePixelRatio() != ratio) {
        track_ = QPixmap(size() * ratio);
        track_.setDevicePixelRatio(ratio);
        track_.fill(Qt::transparent);
        QPainter trackPainter(&track_);
        trackPainter.scale(scale_, scale_);
        PainterCanvas canvas(trackPainter, height() / scale_, PainterCanvas::Parts::track);
        bar_->draw(canvas, width() / scale_, height() / scale_);
        trackLook_ = trackLook;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, track_);
    painter.scale(scale_, scale_);
    {
        PainterCanvas canvas(painter, height() / scale_, PainterCanvas::Parts::stroke);
        bar_->draw(canvas, width() / scale_, height() / scale_);
    }
    if (keyboardFocus_ && hasFocus()) {
        // Reached by Tab, the row says so as the style marks a focused control.
        painter.resetTransform();
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

}  // namespace quillo
