#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "quillo/platform/linux/LinuxPlatform.hpp"

namespace quillo::cli {

struct SampleOptions {
    double interval = 0.5;
    bool json = false;
};

// `quillo sample`: every library reader once.
CLI::App* addSampleCommand(CLI::App& app, SampleOptions& options);
int runSample(const SampleOptions& options, LinuxPlatform& platform);

// The readers' answers keyed by the readers' and fields' own names, and the typed
// sample's figures that no reader gives; null where a value is not a number or a reader
// has nothing to say.
nlohmann::ordered_json sampleAll(double interval, LinuxPlatform& platform);

}  // namespace quillo::cli
