#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "quillo/widget/HostInterfaces.hpp"

namespace quillo {

// An event loop whose clock moves only when told to, so that timer behaviour is
// tested without sleeping. Timers fire at exact multiples of their interval; the
// blocks queued by a firing run before the next firing, as on a real run loop.
class VirtualEventLoop final : public EventLoop {
  public:
    std::unique_ptr<Timer> scheduledTimer(double interval, std::function<void()> fire) override;
    void async(std::function<void()> block) override;

    double now() const override { return now_; }

    // Fires every timer due up to now + seconds, in time order, then sets the clock.
    void advance(double seconds);
    // The process stopped for that long: the clock moves and no timer fires; each due
    // timer then fires once at the next advance, as timerfd and QTimer do on waking.
    void stall(double seconds);
    void runPendingBlocks();

    std::size_t pendingBlocks() const { return blocks_.size(); }
    std::size_t liveTimers() const;
    std::size_t timersCreated() const { return created_; }
    std::size_t firings() const { return firings_; }

    // Like a run loop, an interval below this is raised to it instead of spinning.
    static constexpr double minimumInterval = 1e-4;

  private:
    struct Entry {
        double interval;
        double nextFire;
        std::size_t order;
        bool valid = true;
        std::function<void()> fire;
    };
    class Handle;

    double now_ = 0.0;
    std::size_t created_ = 0;
    std::size_t firings_ = 0;
    std::vector<std::shared_ptr<Entry>> timers_;
    std::deque<std::function<void()>> blocks_;
};

}  // namespace quillo
