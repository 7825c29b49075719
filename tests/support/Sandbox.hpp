#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "support/Run.hpp"

namespace quillo::test {

// Puts this process in a network namespace of its own, with loopback up; with ownSysfs
// also in a mount namespace whose /sys is the new network namespace's. Returns why it
// cannot, or "" when it did.
std::string enterNetworkNamespace(bool ownSysfs);

// ip(8) batch commands, in the network namespace of process inside when given.
RunResult ipBatch(const std::string& commands, pid_t inside = 0);

// Bytes to UDP port 9 (discard) of an IPv4 address, in datagrams of at most 1000 bytes.
void sendUdp(std::uint32_t address, std::size_t bytes);

// Polls until done holds or the time runs out; whether it holds.
bool waitFor(const std::function<bool()>& done, double seconds = 5);

// A program started for one test (a shell command line, output dropped) in a process
// group of its own; ended with SIGTERM, then SIGKILL to its group, when the test ends.
class Daemon {
  public:
    explicit Daemon(const std::string& commandLine);
    // Ready once url answers with a success.
    Daemon(const std::string& commandLine, const std::string& url);
    ~Daemon() { stop(); }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    bool ready() const { return ready_; }
    // The exit status after SIGTERM; -1 when it had to be killed.
    int stop();

  private:
    pid_t pid_ = -1;
    bool ready_ = false;
    int status_ = -1;
};

}  // namespace quillo::test
