#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace quillo::cli {

struct SampleOptions {
    double interval = 0.5;
    bool json = false;
};

// `quillo sample`: every library reader once.
CLI::App* addSampleCommand(CLI::App& app, SampleOptions& options);
int runSample(const SampleOptions& options);

// The readers' answers keyed by the readers' and fields' own names; null where a value
// is not a number or a reader has nothing to say.
nlohmann::ordered_json sampleAll(double interval);

}  // namespace quillo::cli
