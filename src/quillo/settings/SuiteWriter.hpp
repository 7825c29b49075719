#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "quillo/settings/SuiteText.hpp"

namespace quillo {

// A refusal the user can act on; the message names the file or value at fault.
class SuiteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The suite as the companion reads it. A missing file is an empty suite; a file that
// is not a regular file, not a JSON object, too large or too deep is an error naming
// the file, so that nothing overwrites it.
SuiteText readSuite(const std::filesystem::path& path);

// Reads, changes and replaces the suite under an exclusive lock on its folder, so
// concurrent writers never lose each other's keys. The change edits the file's text
// (SuiteText), so everything it does not touch stays byte for byte. The new text goes
// to a temporary file in the same folder, is flushed and renamed over the old one: a
// reader sees the old file or the new one, never half of either. A symbolic link at
// the path is followed, and the file it names is replaced in its own folder, so the
// link keeps working. A new file gets the mode the umask allows; a replaced one keeps
// its mode and, where the writer may, its owner. Temporary files that killed writers
// left behind are removed by the next writer, which holds the lock.
void updateSuite(const std::filesystem::path& path, const std::function<void(SuiteText&)>& change);

// Values a user may type. Both throw SuiteError with a message that says what is
// accepted.
double parseRefreshInterval(std::string_view text);     // a choice name or seconds
std::vector<double> parseColor(std::string_view text);  // r,g,b[,a] or #rrggbb[aa]
double parsePercent(std::string_view text);             // 0 to 100

// Shortest text that reads back as the same double ("2", "0.5", "0.168").
std::string formatNumber(double value);

}  // namespace quillo
