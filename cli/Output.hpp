#pragma once

#include <string_view>

namespace quillo::cli {

// A command's output, through stdio, with the reason of a failed write kept until the
// end: errno is long overwritten by then.
void writeOutput(std::string_view text);

// Flushes and closes standard output. Output that never arrived (a full disk,
// /dev/full) makes a successful command fail with status 1 and the reason on standard
// error, so that a cron job never publishes an empty file with status 0.
int closeOutput(int status);

}  // namespace quillo::cli
