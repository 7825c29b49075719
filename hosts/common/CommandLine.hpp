#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace quillo {

// One command-line convention for quillo, quillo-panel and quillo-term: --help names the
// program and -V/--version prints its version (status 0); a usage error is one line on
// standard error that starts with the program's name, suggests the command or option
// meant where one is near, and ends with status 2. Failed work is status 1.
void prepareCommandLine(CLI::App& app);

// Parses; -1 when the program should go on, else the status to exit with.
int parseCommandLine(CLI::App& app, int argc, char** argv);

// The line a usage error prints, without the program's name; words are the arguments.
std::string describeUsageError(const CLI::App& app, const CLI::ParseError& error,
                               const std::vector<std::string>& words);

// Numbers as people write them, whatever the range: "from 0.1 to 86400".
CLI::Validator finiteRange(double low, double high, const char* unit = "seconds");
CLI::Validator wholeRange(long long low, long long high);

class LinuxPlatform;

// --cgroup auto|host|PATH, which every program takes; checked as the Cgroup setting is.
void addCgroupOption(CLI::App& app, std::string& choice);
// Measures the platform's figures against the chosen cgroup's limits, the Cgroup
// setting's choice where none was given; with figures false, only the cgroup's own
// figures follow the choice and the machine's stay the machine's (the exporter). A path
// that is no cgroup here is a usage error: its message, else empty.
std::string applyCgroup(LinuxPlatform& platform, std::string choice, bool figures = true);

}  // namespace quillo
