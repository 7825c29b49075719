#pragma once

#include <optional>
#include <string>

namespace quillo {

// The kernel's route notifications, which cost nothing while the routes stand still.
// A host watches descriptor() for input with its own loop and calls changed() when it
// is readable; only then is the interface to measure looked up again.
class RouteMonitor {
  public:
    RouteMonitor();
    ~RouteMonitor();
    RouteMonitor(const RouteMonitor&) = delete;
    RouteMonitor& operator=(const RouteMonitor&) = delete;

    // -1 when the notifications cannot be had (no netlink here).
    int descriptor() const { return fd_; }

    // Reads every waiting notification; true when the interface to measure is now
    // another than before (Wi-Fi to Ethernet, a VPN coming up).
    bool changed();

    // Reads every waiting notification without blocking; true when any came (or some
    // were lost), and always when there are no notifications to be had.
    bool drain();

  private:
    int fd_ = -1;
    std::optional<std::string> primary_;
};

}  // namespace quillo
