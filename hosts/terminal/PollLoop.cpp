#include "terminal/PollLoop.hpp"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quillo {

class PollLoop::PollTimer final : public Timer {
  public:
    PollTimer(PollLoop& loop, double interval, std::function<void()> fire)
        : loop_(loop), interval_(interval) {
        fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd_ < 0) return;
        // The first firing comes one interval after creation, then one every interval.
        const double seconds = std::isfinite(interval) && interval > 0 ? interval : 1.0;
        itimerspec timer{};
        timer.it_interval.tv_sec = time_t(seconds);
        timer.it_interval.tv_nsec = long((seconds - double(time_t(seconds))) * 1e9);
        if (timer.it_interval.tv_sec == 0 && timer.it_interval.tv_nsec == 0)
            timer.it_interval.tv_nsec = 1;
        timer.it_value = timer.it_interval;
        ::timerfd_settime(fd_, 0, &timer, nullptr);
        loop_.watch(fd_, [this, fire = std::move(fire)] {
            std::uint64_t expirations = 0;
            // Missed firings (a suspended laptop) make one tick, as a run loop's timer does.
            if (::read(fd_, &expirations, sizeof expirations) == sizeof expirations) fire();
        });
    }
    ~PollTimer() override { invalidate(); }

    double timeInterval() const override { return interval_; }
    void invalidate() override {
        if (fd_ < 0) return;
        loop_.unwatch(fd_);
        ::close(fd_);
        fd_ = -1;
    }

  private:
    PollLoop& loop_;
    double interval_;
    int fd_ = -1;
};

PollLoop::~PollLoop() = default;

std::unique_ptr<Timer> PollLoop::scheduledTimer(double interval, std::function<void()> fire) {
    return std::make_unique<PollTimer>(*this, interval, std::move(fire));
}

void PollLoop::async(std::function<void()> block) {
    blocks_.push_back(std::move(block));
}

void PollLoop::watch(int fd, std::function<void()> ready) {
    watched_[fd] = std::make_shared<std::function<void()>>(std::move(ready));
}

void PollLoop::unwatch(int fd) {
    watched_.erase(fd);
}

void PollLoop::runBlocks() {
    while (!blocks_.empty()) {
        std::function<void()> block = std::move(blocks_.front());
        blocks_.pop_front();
        block();
    }
}

void PollLoop::quit(int status) {
    running_ = false;
    status_ = status;
}

int PollLoop::run() {
    running_ = true;
    std::vector<pollfd> fds;
    runBlocks();
    while (running_) {
        fds.clear();
        for (const auto& [fd, handler] : watched_) fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        for (const pollfd& p : fds) {
            if (!running_) break;
            if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            // The handler may unwatch its own descriptor, or another one.
            const auto it = watched_.find(p.fd);
            if (it == watched_.end()) continue;
            const auto handler = it->second;
            (*handler)();
            runBlocks();
        }
    }
    return status_;
}

}  // namespace quillo
