#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "common/RouteMonitor.hpp"

namespace quillo {

// The route monitor on Qt's event loop: calls primaryChanged when the interface the
// panel should measure changes, so that the host can tell the controller.
class RouteWatcher : public QObject {
    Q_OBJECT

  public:
    explicit RouteWatcher(std::function<void()> primaryChanged, QObject* parent = nullptr);
    ~RouteWatcher() override;

    bool listening() const { return monitor_.descriptor() >= 0; }

  private:
    std::function<void()> primaryChanged_;
    RouteMonitor monitor_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quillo
