#include "qt/RouteWatcher.hpp"

namespace quillo {

RouteWatcher::RouteWatcher(std::function<void()> primaryChanged, QObject* parent)
    : QObject(parent), primaryChanged_(std::move(primaryChanged)) {
    if (!listening()) return;
    notifier_ = std::make_unique<QSocketNotifier>(monitor_.descriptor(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        if (monitor_.changed() && primaryChanged_) primaryChanged_();
    });
}

RouteWatcher::~RouteWatcher() = default;

}  // namespace quillo
