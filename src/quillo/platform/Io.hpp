#pragma once

#include <string_view>

namespace quillo {

// Writes all of text to fd, resuming after short writes and interruptions. Returns
// false on an error (EAGAIN included: a caller with a non-blocking descriptor decides
// what to do with the rest). Safe to call from a signal handler.
bool writeAll(int fd, std::string_view text);

}  // namespace quillo
