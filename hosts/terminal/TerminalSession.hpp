#pragma once

namespace quillo {

// The terminal's state while the panel owns it: the alternate screen, a hidden
// cursor, and input read key by key without echo. restore() gives it all back and is
// safe to call from a signal handler; enter() arranges for it to run on every way
// out, a crash included.
class TerminalSession {
  public:
    // False (and nothing changed) when fd is not a terminal.
    static bool enter(int fd);
    static void restore();
    static bool active();
};

}  // namespace quillo
