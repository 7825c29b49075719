#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillo {

// A repeating timer handed out by an EventLoop. Destroying the handle invalidates it.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual double timeInterval() const = 0;
    virtual void invalidate() = 0;
};

// The thread that owns the panel: repeating timers whose first firing comes one
// interval after creation, and blocks that run one at a time, in submission order,
// after the current event has returned.
class EventLoop {
  public:
    virtual ~EventLoop() = default;
    virtual std::unique_ptr<Timer> scheduledTimer(double interval, std::function<void()> fire) = 0;
    virtual void async(std::function<void()> block) = 0;
    // Seconds on the loop's clock, which only moves forward: rates are measured on it,
    // as a stopped process or a late timer makes a tick stand for more than its interval.
    virtual double now() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// A label of the panel: shows the last text set.
class TextField {
  public:
    virtual ~TextField() = default;
    virtual void setStringValue(std::string text) = 0;
    virtual std::string stringValue() const = 0;
};

// Key in, text out; the key itself when there is no translation.
class Localizer {
  public:
    virtual ~Localizer() = default;
    virtual std::string localizedString(std::string_view key) const = 0;
};

class IdentityLocalizer final : public Localizer {
  public:
    std::string localizedString(std::string_view key) const override { return std::string(key); }
};

// Told each figure as the panel shows it, for hosts that do more with the figures
// (alerts, a tray icon). Calls come on the loop's thread, in the tick's order, and
// refreshed() after the tick's last figure.
class FigureObserver {
  public:
    virtual ~FigureObserver() = default;
    virtual void cpu(double /*percent*/) {}
    virtual void memory(double /*percent*/) {}
    virtual void disk(double /*percent*/) {}
    // Absent charge: no battery, or one that does not publish its charge.
    virtual void battery(std::optional<double> /*charge*/, bool /*discharging*/) {}
    // The draw and whether an adapter feeds the machine; both absent without a battery.
    virtual void batteryPower(std::optional<double> /*watts*/, std::optional<bool> /*adapter*/) {}
    virtual void refreshed() {}
};

// A text field with no view behind it: for headless runs and tests.
class PlainTextField final : public TextField {
  public:
    void setStringValue(std::string text) override { text_ = std::move(text); }
    std::string stringValue() const override { return text_; }

  private:
    std::string text_;
};

}  // namespace quillo
