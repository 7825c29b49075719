#include "terminal/TerminalSession.hpp"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

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

void takeTerminal() {
    struct termios raw = saved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~tcflag_t(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(terminal, TCSANOW, &raw);
    // The screen is switched with a blocking write: it is small, and must not be lost.
    const int flags = ::fcntl(terminal, F_GETFL);
    ::fcntl(terminal, F_SETFL, flags & ~O_NONBLOCK);
    writeAll(terminal, {enterSequence, sizeof enterSequence - 1});
    ::fcntl(terminal, F_SETFL, flags | O_NONBLOCK);
    entered = true;
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
    const int flags = ::fcntl(terminal, F_GETFL);
    ::fcntl(terminal, F_SETFL, flags & ~O_NONBLOCK);
    writeAll(terminal, {restoreSequence, sizeof restoreSequence - 1});
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
    ::kill(0, SIGSTOP);  // the whole job stops, as Ctrl-Z stops it
}

void TerminalSession::resume() {
    if (entered || terminal < 0) return;
    ::tcgetattr(terminal, &saved);  // the shell may have changed the modes meanwhile
    takeTerminal();
}

}  // namespace quillo
