#pragma once

#include <QObject>

#include "widget/HostInterfaces.hpp"

namespace quillo {

// The controller's event loop on Qt's: QTimer for the refresh timer and queued
// invocations for blocks, which Qt delivers one at a time in posting order.
class QtEventLoop final : public EventLoop {
  public:
    std::unique_ptr<Timer> scheduledTimer(double interval, std::function<void()> fire) override;
    void async(std::function<void()> block) override;

  private:
    QObject context_;
};

}  // namespace quillo
