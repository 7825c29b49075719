#include "common/RouteMonitor.hpp"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "quillo/metrics/Device.hpp"

namespace quillo {

RouteMonitor::RouteMonitor() : primary_(primaryInterfaceToMeasure()) {
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd_ < 0) return;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_LINK;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RouteMonitor::~RouteMonitor() {
    if (fd_ >= 0) ::close(fd_);
}

bool RouteMonitor::drain() {
    if (fd_ < 0) return true;
    // A change of routes arrives as a burst of messages; their content does not matter,
    // only that they came.
    char buffer[8192];
    bool came = false;
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            came = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return came || (n < 0 && errno == ENOBUFS);  // EAGAIN: drained; ENOBUFS: some lost
    }
}

bool RouteMonitor::changed() {
    if (fd_ < 0) return false;
    drain();
    auto now = primaryInterfaceToMeasure();
    if (now == primary_) return false;
    primary_ = std::move(now);
    return true;
}

}  // namespace quillo
