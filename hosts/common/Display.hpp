#pragma once

#include <optional>
#include <string>

namespace quillo {

// Whether a graphical display answers, asked before Qt is: Qt aborts the program when
// the display it was given is gone (a stale DISPLAY from an old SSH session), where we
// can fall back to the terminal or say what is wrong.
struct DisplayProbe {
    bool named = false;    // DISPLAY or WAYLAND_DISPLAY is set
    bool answers = false;  // a display server took the connection and answered
    std::string name;      // as the environment gives it, for messages
    std::string problem;   // why the named display does not answer
};

// Wayland: the compositor's socket accepts a connection. X11: the server answers the
// connection setup (with success, failure or a request to authenticate: any answer is
// a live server) within a second. An explicit QT_QPA_PLATFORM is Qt's own affair and
// counts as answering.
DisplayProbe probeDisplay();

}  // namespace quillo
