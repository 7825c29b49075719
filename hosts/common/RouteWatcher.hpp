#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillo {

// Tells the host when the interface the panel should measure changes (Wi-Fi to
// Ethernet, a VPN coming up), so that it can ask the controller to update. It listens
// to the kernel's route notifications, which cost nothing while the routes stand
// still, and compares the primary interface only when a route changed.
class RouteWatcher : public QObject {
    Q_OBJECT

  public:
    explicit RouteWatcher(std::function<void()> primaryChanged, QObject* parent = nullptr);
    ~RouteWatcher() override;

    bool listening() const { return fd_ >= 0; }

  private:
    void drain();

    std::function<void()> primaryChanged_;
    std::optional<std::string> primary_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quillo
