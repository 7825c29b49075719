#pragma once

#include <string_view>

namespace quillo::debug {

// QUILLO_DEBUG=1 makes every reader say, on standard error, which file or field made
// a value neutral or absent ("quillo: debug: power_supply/BAT0/temp: missing"), so a
// grey row can be explained. Each distinct line is written once per process; in
// normal use nothing is written and a note costs one test of a flag.
bool enabled();
void noteAlways(std::string_view what, std::string_view why);

inline void note(std::string_view what, std::string_view why) {
    if (enabled()) noteAlways(what, why);
}

// Something that happened ("View did disappear"): written each time, with the switch on.
void event(std::string_view what);

}  // namespace quillo::debug
