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

// A process names itself, so its name never reaches a terminal raw: control
// characters (C0, DEL, C1) and the backslash are written as visible escapes.
std::string visibleText(std::string_view text);

}  // namespace quillo::cli
