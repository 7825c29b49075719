#include "common/CommandLine.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "quillo/platform/Text.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/settings/Configuration.hpp"
#include "quillo/settings/Keys.hpp"
#include "quillo/settings/Rows.hpp"
#include "quillo/settings/SuiteWriter.hpp"
#include "quillo/widget/Format.hpp"

#ifndef QUILLO_VERSION
#define QUILLO_VERSION "0"
#endif

namespace quillo {

namespace {

// The deepest command that was given: where an unexpected word was met.
const CLI::App& deepest(const CLI::App& app) {
    const auto given = app.get_subcommands();
    return given.empty() ? app : deepest(*given.front());
}

std::vector<std::string> optionNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& n : option->get_lnames()) names.push_back("--" + n);
        for (const std::string& n : option->get_snames()) names.push_back("-" + n);
    }
    return names;
}

std::vector<std::string> commandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        names.push_back(sub->get_name());
    return names;
}

}  // namespace

void prepareCommandLine(CLI::App& app) {
    app.set_version_flag("-V,--version", app.get_name() + " " + QUILLO_VERSION,
                         "print the version and exit");
    app.set_help_flag("-h,--help", "print this help and exit");
}

std::string describeUsageError(const CLI::App& app, const CLI::ParseError& error,
                               const std::vector<std::string>& words) {
    std::string what = error.what();
    const CLI::App& at = deepest(app);
    // The word that was not understood: the first one CLI11 lists as unexpected (it
    // lists them last to first), or the one after a command that needs a subcommand.
    std::string word;
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const std::string listed = what.substr(what.find(": ") + 2);
        word = listed.substr(listed.rfind(' ') + 1);
    } else if (dynamic_cast<const CLI::RequiredError*>(&error) &&
               what.find("ubcommand") != std::string::npos) {
        const auto named = std::find(words.begin(), words.end(), at.get_name());
        if (named != words.end() && named + 1 != words.end()) word = *(named + 1);
    }
    if (!word.empty()) {
        const bool option = word.starts_with('-');
        std::vector<std::string> candidates = option ? optionNames(at) : commandNames(at);
        if (option && &at != &app) {
            for (std::string& name : optionNames(app)) candidates.push_back(std::move(name));
        }
        std::string line = std::string(option ? "unknown option" : "unknown command") + " '" +
                           visibleText(word) + "'";
        if (const auto near = nearestWord(word.substr(0, word.find('=')), candidates))
            line += "; did you mean '" + std::string(*near) + "'?";
        return line;
    }
    // "The following..." reads as the rest of a sentence; "KEY is required" keeps its case.
    if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) &&
        std::islower(static_cast<unsigned char>(what[1]))) {
        what[0] = char(std::tolower(static_cast<unsigned char>(what[0])));
    }
    return visibleText(what);
}

int parseCommandLine(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
        return -1;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {  // --help, --version
            // Through stdio, not a flushed stream, so that the caller sees a failed write.
            std::ostringstream text;
            app.exit(e, text, text);
            std::fputs(text.str().c_str(), stdout);
            return 0;
        }
        const std::vector<std::string> words(argv + 1, argv + argc);
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more.\n", app.get_name().c_str(),
                     describeUsageError(app, e, words).c_str(), app.get_name().c_str());
        return 2;
    }
}

// Numbers are read strictly, in decimal: CLI11 alone would take "0x10" as 16, "010" as
// 8 and "0x1p-3" as 0.125. A validator leaves the number in its plain form, which CLI11
// then converts to the same value.
CLI::Validator finiteRange(double low, double high, const char* unit) {
    return CLI::Validator(
        [low, high, unit](std::string& text) -> std::string {
            double value = 0.0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
            // A NaN passes every comparison a range makes, so it is refused by name.
            if (text.empty() || ec != std::errc{} || end != text.data() + text.size() ||
                !std::isfinite(value) || value < low || value > high) {
                return std::string("takes a number of ") + unit + " from " + formatNumber(low) +
                       " to " + formatNumber(high) + ", not '" + text + "'";
            }
            text = formatNumber(value);
            return {};
        },
        unit == std::string("seconds") ? "S" : "N");
}

CLI::Validator wholeRange(long long low, long long high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            const auto value = parseSigned(text);
            if (!value || *value < low || *value > high) {
                return "takes a whole number from " + std::to_string(low) + " to " +
                       std::to_string(high) + ", not '" + text + "'";
            }
            text = std::to_string(*value);
            return {};
        },
        "N");
}

void addCgroupOption(CLI::App& app, std::string& choice) {
    app.add_option("--cgroup", choice,
                   "the limits CPU and memory are measured against: auto, host or a cgroup's "
                   "path (default: the Cgroup setting, auto)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return isCgroupChoice(text)
                           ? std::string()
                           : "takes auto, host or a cgroup's absolute path, not '" +
                                 visibleText(text) + "'";
            },
            "auto|host|PATH"));
}

std::string applyCgroup(LinuxPlatform& platform, std::string choice, bool figures) {
    if (choice.empty()) choice = chosenCgroup(Configuration::shared());
    if (figures) {
        platform.setCgroup(choice);
    } else {
        platform.cgroup().choose(choice);
    }
    if (!platform.cgroup().exists()) return "no cgroup " + visibleText(choice) + " here";
    return {};
}

}  // namespace quillo
