#pragma once

#include <string_view>

namespace quillo {

// The terminal while the panel owns it: the alternate screen, a hidden cursor, and
// input read key by key, with neither echo nor the terminal's own signal keys (Ctrl-C,
// Ctrl-\ and Ctrl-Z reach the panel as keys) nor flow control (Ctrl-S cannot freeze
// it). Output goes through a descriptor of its own that never blocks, so a stalled
// terminal cannot hold the panel up. restore() gives it all back, is safe in a signal
// handler, and runs on every way out, a crash included.
class TerminalSession {
  public:
    // Takes the terminal that fd is; false (and nothing changed) when it is none.
    static bool enter(int fd);
    static void restore();
    static bool active();

    // The descriptor to write frames to and read keys from; -1 when not active.
    static int descriptor();
    // Writes what fits now; false when the terminal took less (its screen is then
    // unknown and must be drawn whole next time).
    static bool write(std::string_view text);

    // Ctrl-Z: gives the terminal back and stops, as a job does, where a shell does job
    // control; elsewhere it takes the terminal straight back.
    static void suspend();
    // Takes the terminal again when this job is in the foreground, and sets its modes
    // again when it already holds it; true when the screen was taken now and must be
    // drawn whole. A shell's fg of a running background job sends no SIGCONT, so the
    // host asks at every refresh too.
    static bool resume();
};

}  // namespace quillo
