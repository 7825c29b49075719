#pragma once

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "ui/ProgressBar.hpp"
#include "widget/TodayViewController.hpp"

namespace quillo {

// The fifteen outlets with no window behind them, for snapshots.
class HeadlessViews final : public ViewTree {
  public:
    // The battery's title, which the interface file gives its label, in the user's language.
    explicit HeadlessViews(std::string batteryTitle = "Battery");
    std::shared_ptr<TextField> textField(std::string_view name) const override;
    std::shared_ptr<ProgressBar> progressBar(std::string_view name) const override;

  private:
    std::map<std::string, std::shared_ptr<TextField>, std::less<>> labels_;
    std::map<std::string, std::shared_ptr<ProgressBar>, std::less<>> bars_;
};

// Every outlet's state, keyed by outlet name: a label's text, or a bar's current,
// minimum, maximum and tintColor as [r, g, b, a]. A value that is not a number is null.
nlohmann::ordered_json outletStates(const ViewTree& views);

// The same as aligned lines for a person.
std::string outletStatesText(const ViewTree& views);

// An event loop that counts the controller's ticks and calls done once the blocks of
// the last wanted tick have run.
class TickCountingLoop final : public EventLoop {
  public:
    TickCountingLoop(EventLoop& inner, int ticks, std::function<void()> done)
        : inner_(inner), remaining_(ticks), done_(std::move(done)) {}
    std::unique_ptr<Timer> scheduledTimer(double interval, std::function<void()> fire) override;
    void async(std::function<void()> block) override { inner_.async(std::move(block)); }

  private:
    EventLoop& inner_;
    int remaining_;
    std::function<void()> done_;
};

}  // namespace quillo
