#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "quillo/settings/SettingsSuite.hpp"
#include "quillo/widget/HostInterfaces.hpp"
#include "quillo/widget/TodayViewController.hpp"

namespace quillo {

// Every outlet's state, keyed by outlet name: a label's text, or a bar's current,
// minimum, maximum and tintColor as [r, g, b, a]. A value that is not a number is null.
nlohmann::ordered_json outletStates(const ViewTree& views);

// The same as aligned lines for a person.
std::string outletStatesText(const ViewTree& views);

// The user's settings with the refresh interval pinned: a snapshot ticks at its own
// pace, so that its run time is ticks × interval whatever the panel's stored rate.
class PinnedIntervalSuite final : public SettingsSuite {
  public:
    PinnedIntervalSuite(std::filesystem::path path, double seconds)
        : SettingsSuite(std::move(path)), seconds_(seconds) {}
    std::optional<StoredValue> objectForKey(std::string_view key) const override;

  private:
    double seconds_;
};

// An event loop that counts the controller's ticks and calls done once the blocks of
// the last wanted tick have run.
class TickCountingLoop final : public EventLoop {
  public:
    TickCountingLoop(EventLoop& inner, int ticks, std::function<void()> done)
        : inner_(inner), remaining_(ticks), done_(std::move(done)) {}
    std::unique_ptr<Timer> scheduledTimer(double interval, std::function<void()> fire) override;
    void async(std::function<void()> block) override { inner_.async(std::move(block)); }
    double now() const override { return inner_.now(); }

  private:
    EventLoop& inner_;
    int remaining_;
    std::function<void()> done_;
};

}  // namespace quillo
