#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace quillo::cli {

struct SnapshotOptions {
    int ticks = 2;
    double interval = 1.0;
    int scale = 2;
    bool json = false;
    std::string png;
};

// `quillo snapshot`: the real controller run headlessly, by quillo-panel, which renders
// the PNG; these are the arguments it is handed.
CLI::App* addSnapshotCommand(CLI::App& app, SnapshotOptions& options);
std::vector<std::string> snapshotArguments(const SnapshotOptions& options);

}  // namespace quillo::cli
