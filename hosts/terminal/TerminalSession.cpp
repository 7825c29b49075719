#include "terminal/TerminalSession.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "quillo/platform/Io.hpp"

namespace quillo {

namespace {

struct termios saved;
int terminal = -1;
std::atomic<bool> entered{false};

constexpr char enterSequence[] = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J";
constexpr char restoreSequence[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

void onCrash(int signal) {
    TerminalSession::restore();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// The screen is switched with a write that waits, as the sequence is small and must not be
// lost, but never for long: a terminal that does not read (its output stopped, an ssh
// link gone quiet) must not keep the panel from quitting. Safe in a signal handler.
void writeWithin(std::string_view text, int milliseconds) {
    struct timespec start {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    while (!text.empty()) {
        const ssize_t n = ::write(terminal, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return;
        struct timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long waited =
            (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1'000'000;
        struct pollfd out {
            terminal, POLLOUT, 0
        };
        if (waited >= milliseconds || ::poll(&out, 1, int(milliseconds - waited)) <= 0) return;
    }
}

constexpr int sequenceWait = 500;

void setRaw() {
    struct termios raw = saved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~tcflag_t(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(terminal, TCSANOW, &raw);
}

void takeTerminal() {
    setRaw();
    writeWithin({enterSequence, sizeof enterSequence - 1}, sequenceWait);
    entered = true;
}

// Whether this process's group owns the terminal now: only then is it ours to take.
bool inForeground() {
    return ::tcgetpgrp(terminal) == ::getpgrp();
}

}  // namespace

bool TerminalSession::enter(int fd) {
    if (entered || !::isatty(fd)) return false;
    // A description of our own, so that O_NONBLOCK does not leak to the shell's.
    const char* name = ::ttyname(fd);
    terminal = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK) : -1;
    if (terminal < 0 || ::tcgetattr(terminal, &saved) != 0) return false;
    takeTerminal();
    for (const int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP})
        ::signal(s, onCrash);
    std::atexit(restore);
    return true;
}

void TerminalSession::restore() {
    if (!entered.exchange(false)) return;
    writeWithin({restoreSequence, sizeof restoreSequence - 1}, sequenceWait);
    ::tcsetattr(terminal, TCSANOW, &saved);
}

bool TerminalSession::active() {
    return entered;
}

int TerminalSession::descriptor() {
    return entered ? terminal : -1;
}

bool TerminalSession::write(std::string_view text) {
    return entered && writeAll(terminal, text);
}

void TerminalSession::suspend() {
    if (!entered) return;
    restore();
    // The whole job stops as Ctrl-Z stops it, by the stop signal of the terminal: the
    // kernel discards that one where no shell does job control (the group is orphaned,
    // as under `ssh -t host quillo-term` or `xterm -e`), where nothing would ever
    // continue a stopped panel. It is blocked for the signalfd, so it is let through
    // here alone.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    struct sigaction previous {
    }, fallback{};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGTSTP, &fallback, &previous);
    ::kill(0, SIGTSTP);
    ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    ::sigprocmask(SIG_BLOCK, &stop, nullptr);
    ::sigaction(SIGTSTP, &previous, nullptr);
    resume();  // not stopped, or continued: SIGCONT says so too, and taking twice is harmless
}

bool TerminalSession::resume() {
    if (terminal < 0 || !inForeground()) return false;  // in the background it is the shell's
    if (entered) {
        setRaw();  // a shell may have set its own modes while the job was away
        return false;
    }
    ::tcgetattr(terminal, &saved);  // the shell may have changed the modes meanwhile
    takeTerminal();
    return true;
}

}  // namespace quillo
