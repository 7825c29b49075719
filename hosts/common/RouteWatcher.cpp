#include "common/RouteWatcher.hpp"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "widget/TodayViewController.hpp"

namespace quillo {

RouteWatcher::RouteWatcher(std::function<void()> primaryChanged, QObject* parent)
    : QObject(parent),
      primaryChanged_(std::move(primaryChanged)),
      primary_(primaryInterfaceToMeasure()) {
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd_ < 0) return;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_LINK;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
}

RouteWatcher::~RouteWatcher() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
}

void RouteWatcher::drain() {
    // A change of routes arrives as a burst of messages; their content does not matter,
    // only the primary interface once they have been read.
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        break;  // EAGAIN: drained; ENOBUFS: messages were lost, which the check covers
    }
    auto now = primaryInterfaceToMeasure();
    if (now == primary_) return;
    primary_ = std::move(now);
    if (primaryChanged_) primaryChanged_();
}

}  // namespace quillo
