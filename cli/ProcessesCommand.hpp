#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>

namespace quillo {
class LinuxPlatform;
}

namespace quillo::cli {

struct ProcessesOptions {
    bool json = false;
};

// `quillo processes`: ProcessAPI.list() as a table or a JSON array.
CLI::App* addProcessesCommand(CLI::App& app, ProcessesOptions& options);
int runProcesses(const ProcessesOptions& options);

struct TopOptions {
    std::string by = "cpu";
    int count = 10;
    double interval = 1.0;
    bool json = false;
    bool byUnit = false;
};

// `quillo top`: the busiest processes over an interval, as top would list them.
CLI::App* addTopCommand(CLI::App& app, TopOptions& options);
int runTop(const TopOptions& options, LinuxPlatform& platform);

}  // namespace quillo::cli
