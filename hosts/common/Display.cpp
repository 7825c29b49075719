#include "common/Display.hpp"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quillo {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class Socket {
  public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

bool connectUnix(const Socket& s, const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() + 1 >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path + (abstract ? 1 : 0), path.data(), path.size());
    const socklen_t length =
        socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 1 : 0));
    return ::connect(s.get(), reinterpret_cast<sockaddr*>(&address), length) == 0;
}

// Connects, without waiting more than a second, to host:port.
int connectTcp(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        if (errno == EINPROGRESS && ::poll(&p, 1, 1000) == 1 &&
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
            break;
        }
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    return fd;
}

// Sends the X11 connection setup without credentials and waits for the first byte of
// the answer: 1 success, 0 failure, 2 authenticate. Any of them is a live server.
bool x11Answers(int fd) {
    const unsigned char setup[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (::send(fd, setup, sizeof setup, MSG_NOSIGNAL) != ssize_t(sizeof setup)) return false;
    pollfd p{fd, POLLIN, 0};
    unsigned char answer = 0xFF;
    return ::poll(&p, 1, 1000) == 1 && ::recv(fd, &answer, 1, 0) == 1 && answer <= 2;
}

bool probeX11(const std::string& display, std::string& problem) {
    // [host]:number[.screen]
    const auto colon = display.rfind(':');
    if (colon == std::string::npos) {
        problem = "is not a display name";
        return false;
    }
    std::string host = display.substr(0, colon);
    const int number = std::atoi(display.c_str() + colon + 1);
    if (host.starts_with("unix")) host.clear();
    int fd = -1;
    if (host.empty()) {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        for (const bool abstract : {true, false}) {
            Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (connectUnix(s, path, abstract)) {
                fd = ::dup(s.get());
                break;
            }
        }
    } else {
        fd = connectTcp(host, 6000 + number);
    }
    if (fd < 0) {
        problem = "no X server takes connections there";
        return false;
    }
    const Socket s(fd);
    if (!x11Answers(s.get())) {
        problem = "the X server does not answer";
        return false;
    }
    return true;
}

bool probeWayland(const std::string& display, std::string& problem) {
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    const std::string path = display.starts_with('/') ? display : runtime + "/" + display;
    const Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (connectUnix(s, path, false)) return true;
    problem = "no Wayland compositor takes connections there";
    return false;
}

}  // namespace

DisplayProbe probeDisplay() {
    DisplayProbe probe;
    const std::string wayland = environment("WAYLAND_DISPLAY");
    const std::string x11 = environment("DISPLAY");
    probe.named = !wayland.empty() || !x11.empty();
    probe.name = !x11.empty() ? x11 : wayland;
    if (!environment("QT_QPA_PLATFORM").empty()) {
        probe.answers = true;
        return probe;
    }
    std::string waylandProblem;
    if (!wayland.empty() && probeWayland(wayland, waylandProblem)) {
        probe.answers = true;
        probe.name = wayland;
    } else if (!x11.empty()) {
        probe.answers = probeX11(x11, probe.problem);
    } else {
        probe.problem = waylandProblem;
    }
    return probe;
}

}  // namespace quillo
