#include "qt/QtEventLoop.hpp"

#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

namespace quillo {
namespace {

class QtTimer final : public Timer {
  public:
    QtTimer(double interval, std::function<void()> fire) : interval_(interval), timer_(new QTimer) {
        const double ms = std::round(interval * 1000.0);
        timer_->setInterval(int(std::clamp(std::isfinite(ms) ? ms : 1.0, 1.0, double(INT_MAX))));
        QObject::connect(timer_, &QTimer::timeout, timer_, std::move(fire));
        timer_->start();
    }
    ~QtTimer() override { invalidate(); }

    double timeInterval() const override { return interval_; }

    void invalidate() override {
        if (!timer_) return;
        timer_->stop();
        // The timer may be replaced from inside its own timeout: delete it afterwards.
        timer_->deleteLater();
        timer_ = nullptr;
    }

  private:
    double interval_;
    QTimer* timer_;
};

}  // namespace

std::unique_ptr<Timer> QtEventLoop::scheduledTimer(double interval, std::function<void()> fire) {
    return std::make_unique<QtTimer>(interval, std::move(fire));
}

void QtEventLoop::async(std::function<void()> block) {
    blocks_.push_back(std::move(block));
    if (posted_) return;
    posted_ = true;
    QMetaObject::invokeMethod(
        &context_, [this] { runBlocks(); }, Qt::QueuedConnection);
}

void QtEventLoop::runBlocks() {
    // A block may queue more; they run in this same pass, after it.
    while (!blocks_.empty()) {
        std::function<void()> block = std::move(blocks_.front());
        blocks_.pop_front();
        block();
    }
    posted_ = false;
}

}  // namespace quillo
