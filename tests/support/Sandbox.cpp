#include "support/Sandbox.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace quillo::test {

std::string enterNetworkNamespace(bool ownSysfs) {
    if (::geteuid() != 0) return "needs root for a network namespace";
    if (::unshare(CLONE_NEWNET | (ownSysfs ? CLONE_NEWNS : 0)) != 0)
        return "cannot make a network namespace here";
    if (ownSysfs && (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                     ::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0))
        return "cannot mount the namespace's sysfs";
    const RunResult lo = ipBatch("link set lo up\n");
    return lo.status == 0 ? "" : "no ip(8) here: " + lo.err;
}

RunResult ipBatch(const std::string& commands, pid_t inside) {
    const std::string enter =
        inside > 0 ? "nsenter --target " + std::to_string(inside) + " --net " : "";
    return run(enter + "ip -batch - <<'END'\n" + commands + "END");
}

void sendUdp(std::uint32_t address, std::size_t bytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(9);
    peer.sin_addr.s_addr = htonl(address);
    const std::string datagram(std::min<std::size_t>(bytes, 1000), 'q');
    for (std::size_t sent = 0; sent < bytes; sent += datagram.size())
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                 sizeof peer);
    ::close(fd);
}

bool waitFor(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

Daemon::Daemon(const std::string& commandLine) : pid_(::fork()) {
    if (pid_ == 0) {
        ::setpgid(0, 0);
        ::execl("/bin/sh", "sh", "-c", ("exec " + commandLine + " >/dev/null 2>&1").c_str(),
                nullptr);
        ::_exit(127);
    }
    ready_ = pid_ > 0;
}

Daemon::Daemon(const std::string& commandLine, const std::string& url) : Daemon(commandLine) {
    ready_ = ready_ && waitFor([&] { return run("curl -sf -o /dev/null " + url).status == 0; }, 20);
}

int Daemon::stop() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    int raw = 0;
    if (waitFor([&] { return ::waitpid(pid_, &raw, WNOHANG) == pid_; })) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    } else {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, &raw, 0);
    }
    pid_ = -1;
    return status_;
}

}  // namespace quillo::test
