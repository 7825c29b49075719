#pragma once

#include <CLI/CLI.hpp>

namespace quillo::cli {

// `quillo settings ...`: the companion's writer on the command line.
void addSettingsCommand(CLI::App& app);

}  // namespace quillo::cli
