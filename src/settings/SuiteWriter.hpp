#pragma once

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// A refusal the user can act on; the message names the file or value at fault.
class SuiteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using SuiteDocument = nlohmann::ordered_json;

// The whole suite as the companion sees it. A missing file is an empty suite; a
// file that is not a JSON object is an error, so that nothing overwrites it.
SuiteDocument loadSuite(const std::filesystem::path& path);

// Reads, changes and replaces the suite under an exclusive lock on its folder, so
// concurrent writers never lose each other's keys. The new text goes to a temporary
// file in the same folder, is flushed, and is renamed over the old one: a reader
// sees the old file or the new one, never half of either. Keys the change does not
// touch are kept as they were, in their order.
void updateSuite(const std::filesystem::path& path,
                 const std::function<void(SuiteDocument&)>& change);

// Values a user may type. Both throw SuiteError with a message that says what is
// accepted.
double parseRefreshInterval(std::string_view text);     // a choice name or seconds
std::vector<double> parseColor(std::string_view text);  // r,g,b[,a] or #rrggbb[aa]

// Shortest text that reads back as the same double ("2", "0.5", "0.168").
std::string formatNumber(double value);

}  // namespace quillo
