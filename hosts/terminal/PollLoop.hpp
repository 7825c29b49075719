#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "quillo/widget/HostInterfaces.hpp"

namespace quillo {

// The controller's event loop on the operating system's own primitives: one poll over
// the descriptors the host watches, a timerfd for each repeating timer, and blocks run
// in submission order once the current event has returned. A few kilobytes, where a
// toolkit's loop brings megabytes of libraries.
class PollLoop final : public EventLoop {
  public:
    PollLoop() = default;
    ~PollLoop() override;
    PollLoop(const PollLoop&) = delete;
    PollLoop& operator=(const PollLoop&) = delete;

    std::unique_ptr<Timer> scheduledTimer(double interval, std::function<void()> fire) override;
    void async(std::function<void()> block) override;

    // Calls ready whenever fd has something to read, until unwatched.
    void watch(int fd, std::function<void()> ready);
    void unwatch(int fd);

    // Waits and dispatches until quit(); returns the status given to quit.
    int run();
    void quit(int status = 0);

  private:
    class PollTimer;
    void runBlocks();

    std::map<int, std::shared_ptr<std::function<void()>>> watched_;
    std::deque<std::function<void()>> blocks_;
    bool running_ = false;
    int status_ = 0;
};

}  // namespace quillo
