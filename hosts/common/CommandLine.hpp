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

}  // namespace quillo
