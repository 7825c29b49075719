#include "quillo/widget/VirtualEventLoop.hpp"

#include <algorithm>

namespace quillo {

class VirtualEventLoop::Handle final : public Timer {
  public:
    explicit Handle(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
    ~Handle() override { invalidate(); }
    double timeInterval() const override { return entry_->interval; }
    void invalidate() override { entry_->valid = false; }

  private:
    std::shared_ptr<Entry> entry_;
};

std::unique_ptr<Timer> VirtualEventLoop::scheduledTimer(double interval,
                                                        std::function<void()> fire) {
    const double step = interval >= minimumInterval ? interval : minimumInterval;
    auto entry =
        std::make_shared<Entry>(Entry{interval, now_ + step, created_++, true, std::move(fire)});
    timers_.push_back(entry);
    return std::make_unique<Handle>(std::move(entry));
}

void VirtualEventLoop::async(std::function<void()> block) {
    blocks_.push_back(std::move(block));
}

void VirtualEventLoop::runPendingBlocks() {
    while (!blocks_.empty()) {
        auto block = std::move(blocks_.front());
        blocks_.pop_front();
        block();
    }
}

std::size_t VirtualEventLoop::liveTimers() const {
    return std::size_t(std::count_if(timers_.begin(), timers_.end(),
                                     [](const auto& entry) { return entry->valid; }));
}

void VirtualEventLoop::stall(double seconds) {
    now_ += seconds;
    for (const auto& entry : timers_) entry->nextFire = std::max(entry->nextFire, now_);
}

void VirtualEventLoop::advance(double seconds) {
    const double until = now_ + seconds;
    runPendingBlocks();
    for (;;) {
        std::erase_if(timers_, [](const auto& entry) { return !entry->valid; });
        const auto next =
            std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
                return a->nextFire != b->nextFire ? a->nextFire < b->nextFire : a->order < b->order;
            });
        if (next == timers_.end() || (*next)->nextFire > until) break;
        const std::shared_ptr<Entry> entry = *next;
        now_ = entry->nextFire;
        entry->nextFire += std::max(entry->interval, minimumInterval);
        ++firings_;
        entry->fire();
        runPendingBlocks();
    }
    now_ = until;
}

}  // namespace quillo
