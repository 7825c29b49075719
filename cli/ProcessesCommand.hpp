#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>

namespace quillo::cli {

struct ProcessesOptions {
    bool json = false;
};

// `quillo processes`: ProcessAPI.list() as a table or a JSON array.
CLI::App* addProcessesCommand(CLI::App& app, ProcessesOptions& options);
int runProcesses(const ProcessesOptions& options);

}  // namespace quillo::cli
