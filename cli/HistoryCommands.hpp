#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quillo/platform/linux/LinuxPlatform.hpp"

namespace quillo::cli {

struct RecordOptions {
    double interval = 1.0;
};
struct HistoryOptions {
    std::vector<std::string> figures;
    std::string since = "1h", until;
    bool json = false, csv = false, openMetrics = false;
    CLI::App* processes = nullptr;  // `quillo history processes`
};

// `quillo record`: a point a refresh into the user's history until stopped.
CLI::App* addRecordCommand(CLI::App& app, RecordOptions& options);
int runRecord(const RecordOptions& options, LinuxPlatform& platform);

// `quillo history`: the recorded points, or the busiest processes, of a window.
CLI::App* addHistoryCommand(CLI::App& app, HistoryOptions& options);
int runHistory(const HistoryOptions& options);

// "90s", "15m", "3h", "7d" before now, or an ISO 8601 date and time ("2026-12-07",
// "2026-12-07T03:00", with seconds, and "Z" or an offset; local time without one), as
// milliseconds since the epoch. Throws UsageError saying what is accepted.
std::int64_t parseHistoryTime(const std::string& text, std::int64_t nowMs, bool durationAllowed);

}  // namespace quillo::cli
