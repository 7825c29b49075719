#pragma once

#include <functional>

#include "quillo/ui/Canvas.hpp"
#include "quillo/ui/Color.hpp"

namespace quillo {

// The bar of the CPU, memory, disk and battery rows. Every assignment asks the view
// that shows it to redraw, also when the value does not change.
class ProgressBar {
  public:
    ProgressBar() = default;
    explicit ProgressBar(std::function<void()> needsDisplay)
        : needsDisplay_(std::move(needsDisplay)) {}

    Color borderTintColor() const { return borderTintColor_; }
    Color backgroundTintColor() const { return backgroundTintColor_; }
    double borderWidth() const { return borderWidth_; }
    double thickness() const { return thickness_; }
    Color tintColor() const { return tintColor_; }
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    double current() const { return current_; }

    void setBorderTintColor(Color c) { set(borderTintColor_, c); }
    void setBackgroundTintColor(Color c) { set(backgroundTintColor_, c); }
    void setBorderWidth(double v) { set(borderWidth_, v); }
    void setThickness(double v) { set(thickness_, v); }
    void setTintColor(Color c) { set(tintColor_, c); }
    void setMinimum(double v) { set(minimum_, v); }
    void setMaximum(double v) { set(maximum_, v); }
    void setCurrent(double v) { set(current_, v); }

    void setNeedsDisplayHandler(std::function<void()> handler) {
        needsDisplay_ = std::move(handler);
    }

    // Width 20, height 2 × thickness × borderWidth.
    Size fittingSize() const { return {20.0, 2.0 * thickness_ * borderWidth_}; }

    // Draws into bounds of the given size: the rounded track, outline first and fill
    // over it, then the round-capped progress stroke from minimum towards current. A
    // fraction that is not finite (maximum equal to minimum, a current that is not a
    // number) draws the track alone, and an operation whose numbers are not all finite
    // is never issued.
    void draw(Canvas& canvas, double width, double height) const;

  private:
    template <class T>
    void set(T& field, T value) {
        field = value;
        if (needsDisplay_) needsDisplay_();
    }

    Color borderTintColor_{0.75, 0.75, 0.75, 1.0};
    Color backgroundTintColor_{0.86, 0.86, 0.86, 1.0};
    double borderWidth_ = 1.0;
    double thickness_ = 6.0;
    Color tintColor_{0.36, 0.72, 0.36, 1.0};
    double minimum_ = 0.0;
    double maximum_ = 100.0;
    double current_ = 0.0;
    std::function<void()> needsDisplay_;
};

}  // namespace quillo
