#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>
#include <memory>
#include <optional>

#include "quillo/ui/ProgressBar.hpp"

namespace quillo {

// A colour the screen can show: stored colours are never clamped, a pixel must be.
QColor toQColor(const Color& color);

// The widget that shows a ProgressBar; the interface file places it by class name.
class ProgressBarView : public QWidget {
    Q_OBJECT

  public:
    explicit ProgressBarView(QWidget* parent = nullptr);
    // A view of a bar that someone else fills.
    explicit ProgressBarView(std::shared_ptr<ProgressBar> bar, QWidget* parent = nullptr);
    ~ProgressBarView() override { bar_->setNeedsDisplayHandler({}); }

    const std::shared_ptr<ProgressBar>& bar() const { return bar_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The bar drawn larger or smaller, its lines and border with it; preferredWidth is
    // the width it asks for at scale 1.
    void setScale(double scale, int preferredWidth = 160);
    // The share the bar shows, in whole percent, as screen readers are told it.
    double percent() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    // What the bar looked like when last painted: a redraw request that changes
    // nothing visible costs no paint.
    struct Look {
        long long stroke;  // where the stroke ends, in quarters of a device pixel
        double borderWidth, thickness;
        Color tint, border, background;
        int width, height;
        double scale;
        bool operator==(const Look&) const = default;
    };
    Look look() const;

    std::shared_ptr<ProgressBar> bar_;
    std::optional<Look> painted_;
    QPixmap track_;
    std::optional<Look> trackLook_;
    double scale_ = 1;
    int preferredWidth_ = 160;
    double announced_ = -1;       // the percent screen readers last heard
    bool keyboardFocus_ = false;  // reached by Tab: marked, unlike the focus a window gives
};

}  // namespace quillo
