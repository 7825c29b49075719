#include "SnapshotCommand.hpp"

#include "common/CommandLine.hpp"
#include "quillo/settings/SuiteWriter.hpp"

namespace quillo::cli {

CLI::App* addSnapshotCommand(CLI::App& app, SnapshotOptions& options) {
    auto* command = app.add_subcommand(
        "snapshot", "Run the real controller headlessly for some ticks and print every outlet");
    command->add_option("--ticks", options.ticks, "refresh ticks to run first")
        ->capture_default_str()
        ->transform(wholeRange(1, 100000));
    command
        ->add_option("--interval", options.interval,
                     "seconds between ticks, whatever the stored refresh rate")
        ->capture_default_str()
        ->transform(finiteRange(0.1, 86400.0));
    command->add_flag("--json", options.json, "print an object keyed by the fifteen outlet names");
    command->add_option("--png", options.png, "render the desktop panel to FILE");
    command->add_option("--scale", options.scale, "device pixel ratio of the PNG")
        ->capture_default_str()
        ->transform(wholeRange(1, 8));
    return command;
}

std::vector<std::string> snapshotArguments(const SnapshotOptions& options) {
    std::vector<std::string> arguments = {"--snapshot", "--ticks", std::to_string(options.ticks),
                                          "--interval", formatNumber(options.interval)};
    if (options.json) arguments.push_back("--json");
    if (!options.png.empty()) {
        arguments.insert(arguments.end(),
                         {"--png", options.png, "--scale", std::to_string(options.scale)});
    }
    return arguments;
}

}  // namespace quillo::cli
