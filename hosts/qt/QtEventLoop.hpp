#pragma once

#include <QObject>
#include <deque>
#include <functional>

#include "quillo/widget/HostInterfaces.hpp"

namespace quillo {

// The controller's event loop on Qt's: QTimer for the refresh timer, and blocks kept in
// a queue of our own that one queued invocation empties, in submission order, once the
// current event has returned. A tick queues several blocks; one wake-up of Qt's loop
// serves them all.
class QtEventLoop final : public EventLoop {
  public:
    std::unique_ptr<Timer> scheduledTimer(double interval, std::function<void()> fire) override;
    void async(std::function<void()> block) override;

  private:
    void runBlocks();

    QObject context_;
    std::deque<std::function<void()>> blocks_;
    bool posted_ = false;
};

}  // namespace quillo
