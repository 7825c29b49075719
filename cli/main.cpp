// quillo: the panel launcher and the one-shot commands. Links no Qt.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ExporterCommands.hpp"
#include "HistoryCommands.hpp"
#include "Output.hpp"
#include "ProcessesCommand.hpp"
#include "SampleCommand.hpp"
#include "SettingsCommand.hpp"
#include "SnapshotCommand.hpp"
#include "Usage.hpp"
#include "common/Autostart.hpp"
#include "common/CommandLine.hpp"
#include "common/Display.hpp"
#include "quillo/platform/Text.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/platform/linux/Machine.hpp"
#include "quillo/settings/Keys.hpp"
#include "quillo/settings/SuiteWriter.hpp"
#include "quillo/widget/Format.hpp"

namespace {

struct GlobalOptions {
    std::string procfs = "/proc";
    std::string sysfs = "/sys";
    std::string cgroup;  // empty: the Cgroup setting's
    bool desktop = false;
    bool terminal = false;
    long frames = 0;
};

// The Qt hosts are installed beside this program; PATH is the fallback for odd layouts.
std::string hostExecutable(const char* name) {
    const auto self = quillo::ownExecutable();
    if (!self.empty()) {
        const auto beside = self.parent_path() / name;
        if (::access(beside.c_str(), X_OK) == 0) return beside.string();
    }
    return name;
}

// Whether execvp would find the host: the desktop panel is a package of its own, which a
// server goes without.
bool hostInstalled(const char* name) {
    const std::string found = hostExecutable(name);
    if (found != name) return true;
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (true) {
        const auto colon = rest.find(':');
        const std::filesystem::path folder(rest.substr(0, colon));
        if (!folder.empty() && ::access((folder / name).c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

// Hands over to a host: the desktop panel (and snapshots) in quillo-panel, the terminal
// panel in quillo-term, which loads no Qt at all.
[[noreturn]] void runPanel(const GlobalOptions& options, std::vector<std::string> extra) {
    const bool snapshot = !extra.empty();
    bool desktop = snapshot || options.desktop;
    if (!snapshot && !options.terminal) {
        const quillo::DisplayProbe display = quillo::probeDisplay();
        if (options.desktop && !display.answers) {
            std::fprintf(
                stderr, "quillo: cannot open the display %s: %s\n",
                quillo::visibleText(display.name.empty() ? "(none named)" : display.name).c_str(),
                display.named ? display.problem.c_str() : "DISPLAY and WAYLAND_DISPLAY are unset");
            std::exit(1);
        }
        if (display.named && !display.answers) {
            if (!::isatty(STDOUT_FILENO)) {
                std::fprintf(stderr, "quillo: cannot open the display %s: %s\n",
                             quillo::visibleText(display.name).c_str(), display.problem.c_str());
                std::exit(1);
            }
            std::fprintf(
                stderr, "quillo: the display %s does not answer (%s); showing the terminal panel\n",
                quillo::visibleText(display.name).c_str(), display.problem.c_str());
        }
        desktop = desktop ||
                  (display.answers && (hostInstalled("quillo-panel") || !::isatty(STDOUT_FILENO)));
    }
    std::vector<std::string> args = {hostExecutable(desktop ? "quillo-panel" : "quillo-term"),
                                     "--procfs", options.procfs, "--sysfs", options.sysfs};
    if (!options.cgroup.empty()) {
        args.push_back("--cgroup");
        args.push_back(options.cgroup);
    }
    if (desktop && !snapshot) args.push_back("--desktop");
    if (!desktop && options.frames > 0) {
        args.push_back("--frames");
        args.push_back(std::to_string(options.frames));
    }
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    if (errno == ENOENT && desktop) {
        std::fprintf(stderr,
                     "quillo: the desktop panel is not installed (the quillo-desktop "
                     "package has it); quillo --terminal runs the terminal panel\n");
    } else {
        std::fprintf(stderr, "quillo: cannot start %s: %s\n", argv[0], std::strerror(errno));
    }
    std::exit(127);
}

}  // namespace

int quilloMain(int argc, char** argv) {
    CLI::App app{
        "Quillo: a compact live panel of this machine's CPU, memory, disk, network, "
        "load, uptime and battery.\nWithout a command, runs the panel: the desktop "
        "window where a display is available, the terminal panel otherwise.",
        "quillo"};
    quillo::prepareCommandLine(app);
    app.fallthrough();
    app.require_subcommand(0, 1);

    GlobalOptions options;
    app.add_option("--procfs", options.procfs, "procfs root to read")
        ->capture_default_str()
        ->check(CLI::ExistingDirectory);
    app.add_option("--sysfs", options.sysfs, "sysfs root to read")
        ->capture_default_str()
        ->check(CLI::ExistingDirectory);
    quillo::addCgroupOption(app, options.cgroup);
    auto* desktop = app.add_flag("--desktop", options.desktop, "run the desktop panel");
    app.add_flag("--terminal", options.terminal, "run the terminal panel")->excludes(desktop);
    app.add_option("--frames", options.frames,
                   "the terminal panel stops after N refreshes (for scripts)")
        ->transform(quillo::wholeRange(1, 1'000'000'000));

    std::string helpTopic;
    auto* help = app.add_subcommand("help", "Print the help of quillo, or of one of its commands");
    help->add_option("COMMAND", helpTopic, "the command to explain");

    quillo::cli::addSettingsCommand(app);
    auto* autostart = app.add_subcommand(
        "autostart", "Start the desktop panel at login, or not (an XDG autostart entry)");
    autostart->require_subcommand(1);
    autostart->add_subcommand("enable", "Start the panel at login")->callback([] {
        const auto self = quillo::ownExecutable();
        quillo::enableAutostart(self.empty() ? std::filesystem::path("quillo") : self);
    });
    autostart->add_subcommand("disable", "Do not start the panel at login")->callback([] {
        quillo::disableAutostart();
    });
    autostart->add_subcommand("status", "Print enabled or disabled")->callback([] {
        std::printf("%s\n", quillo::autostartEnabled() ? "enabled" : "disabled");
    });
    quillo::cli::SnapshotOptions snapshotOptions;
    auto* snapshot = quillo::cli::addSnapshotCommand(app, snapshotOptions);

    quillo::cli::ProcessesOptions processesOptions;
    auto* processes = quillo::cli::addProcessesCommand(app, processesOptions);
    quillo::cli::TopOptions topOptions;
    auto* top = quillo::cli::addTopCommand(app, topOptions);
    quillo::cli::SampleOptions sampleOptions;
    auto* sample = quillo::cli::addSampleCommand(app, sampleOptions);
    quillo::cli::MetricsOptions metricsOptions;
    auto* metrics = quillo::cli::addMetricsCommand(app, metricsOptions);
    quillo::cli::ServeOptions serveOptions;
    auto* serve = quillo::cli::addServeCommand(app, serveOptions);
    quillo::cli::RecordOptions recordOptions;
    auto* record = quillo::cli::addRecordCommand(app, recordOptions);
    quillo::cli::HistoryOptions historyOptions;
    auto* history = quillo::cli::addHistoryCommand(app, historyOptions);

    try {
        if (const int status = quillo::parseCommandLine(app, argc, argv); status >= 0)
            return status;
    } catch (const quillo::cli::UsageError& e) {
        std::fprintf(stderr, "quillo: %s\n", quillo::visibleText(e.what()).c_str());
        return 2;
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "quillo: %s\n", quillo::visibleText(e.what()).c_str());
        return 1;
    }
    if (help->parsed()) {
        if (helpTopic.empty()) {
            std::fputs(app.help().c_str(), stdout);
            return 0;
        }
        for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
            if (command->get_name() == helpTopic) {
                std::fputs(command->help("quillo").c_str(), stdout);
                return 0;
            }
        }
        std::vector<std::string> names;
        for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
            names.push_back(command->get_name());
        const auto near = quillo::nearestWord(helpTopic, names);
        std::fprintf(stderr, "quillo: no command '%s'%s\n", quillo::visibleText(helpTopic).c_str(),
                     near ? ("; did you mean '" + std::string(*near) + "'?").c_str() : "");
        return 2;
    }
    if (app.get_subcommands().empty()) runPanel(options, {});
    if (snapshot->parsed()) runPanel(options, quillo::cli::snapshotArguments(snapshotOptions));

    quillo::LinuxPlatform platform({options.procfs, options.sysfs});
    quillo::setCurrentPlatform(&platform);
    // The exporter keeps the machine's figures and adds the cgroup's beside them.
    if (const std::string why =
            quillo::applyCgroup(platform, options.cgroup, !metrics->parsed() && !serve->parsed());
        !why.empty()) {
        std::fprintf(stderr, "quillo: %s\n", why.c_str());
        return 2;
    }
    if (sample->parsed()) return quillo::cli::runSample(sampleOptions, platform);
    if (processes->parsed()) return quillo::cli::runProcesses(processesOptions);
    if (top->parsed()) return quillo::cli::runTop(topOptions, platform);
    try {
        if (metrics->parsed()) return quillo::cli::runMetrics(metricsOptions, platform);
        if (serve->parsed()) return quillo::cli::runServe(serveOptions, platform);
        if (record->parsed()) return quillo::cli::runRecord(recordOptions, platform);
        if (history->parsed()) return quillo::cli::runHistory(historyOptions);
    } catch (const quillo::cli::UsageError& e) {
        std::fprintf(stderr, "quillo: %s\n", e.what());
        return 2;
    }
    return 0;
}

int main(int argc, char** argv) {
    int status = 1;
    try {
        status = quilloMain(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillo: %s\n", e.what());
    }
    return quillo::cli::closeOutput(status);
}
