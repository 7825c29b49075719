// Guards the cost of one refresh of the whole panel on the live machine: the tick,
// its queued blocks and every reader they call, without any drawing. A panel that
// refreshes every second should spend microseconds, not milliseconds, here.
#include <benchmark/benchmark.h>

#include <map>

#include "quillo/ui/ProgressBar.hpp"
#include "quillo/widget/TodayViewController.hpp"
#include "quillo/widget/VirtualEventLoop.hpp"

namespace {

class Views final : public quillo::ViewTree {
  public:
    std::map<std::string, std::shared_ptr<quillo::TextField>, std::less<>> labels;
    std::map<std::string, std::shared_ptr<quillo::ProgressBar>, std::less<>> bars;
    Views() {
        for (const std::string_view name : quillo::TodayViewController::outletNames) {
            if (name.ends_with("Bar")) {
                bars.emplace(name, std::make_shared<quillo::ProgressBar>());
            } else {
                labels.emplace(name, std::make_shared<quillo::PlainTextField>());
            }
        }
    }
    std::shared_ptr<quillo::TextField> textField(std::string_view name) const override {
        return labels.find(name)->second;
    }
    std::shared_ptr<quillo::ProgressBar> progressBar(std::string_view name) const override {
        return bars.find(name)->second;
    }
};

void BM_ControllerTick(benchmark::State& state) {
    quillo::VirtualEventLoop loop;
    quillo::IdentityLocalizer localizer;
    Views views;
    auto controller = quillo::TodayViewController::initWithCoder(views, {loop, localizer});
    controller->widgetPerformUpdateWithCompletionHandler({});
    for (auto _ : state) loop.advance(controller->refreshTimer()->timeInterval());
}
BENCHMARK(BM_ControllerTick);

}  // namespace

BENCHMARK_MAIN();
