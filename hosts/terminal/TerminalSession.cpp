#include "terminal/TerminalSession.hpp"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "platform/Io.hpp"

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

}  // namespace

bool TerminalSession::enter(int fd) {
    if (!::isatty(fd) || ::tcgetattr(fd, &saved) != 0) return false;
    terminal = fd;
    struct termios raw = saved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &raw);
    writeAll(fd, {enterSequence, sizeof enterSequence - 1});
    entered = true;
    for (const int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(s, onCrash);
    std::atexit(restore);
    return true;
}

void TerminalSession::restore() {
    if (!entered.exchange(false)) return;
    writeAll(terminal, {restoreSequence, sizeof restoreSequence - 1});
    ::tcsetattr(terminal, TCSANOW, &saved);
}

bool TerminalSession::active() {
    return entered;
}

}  // namespace quillo
