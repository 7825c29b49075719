#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillo {

// The keys of the shared suite that Quillo reads, and the forms their values are
// stored in: other programs read the file too, so a colour is always stored as four
// numbers and an interval as seconds, whatever the user typed.
struct SettingKey {
    // A number is a decimal from minimum to maximum; a choice one of its words, the
    // first the default.
    enum class Kind { interval, color, percent, rows, items, cgroup, choice, number };
    std::string_view name;
    Kind kind;
    std::string_view help;
    double defaultNumber = 0;  // an interval's, a percent's or a number's
    double minimum = 0, maximum = 0;
    std::span<const std::string_view> choices = {};
};

// The candidate nearest to a mistyped word, ignoring case, for "did you mean"; absent
// when none is near enough to be what was meant.
template <class Range>
std::optional<std::string_view> nearestWord(std::string_view word, const Range& candidates);
std::size_t editDistance(std::string_view a, std::string_view b);

template <class Range>
std::optional<std::string_view> nearestWord(std::string_view word, const Range& candidates) {
    std::optional<std::string_view> best;
    std::size_t bestDistance = std::max<std::size_t>(2, word.size() / 3) + 1;
    for (const auto& candidate : candidates) {
        const std::size_t d = editDistance(word, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = std::string_view(candidate);
        }
    }
    return best;
}

std::span<const SettingKey> settingKeys();
const SettingKey* findSettingKey(std::string_view name);
// The known key nearest to a misspelt one, for "did you mean"; absent when none is near.
std::optional<std::string_view> nearestSettingKey(std::string_view name);

// What the user typed, as the JSON text the key is stored as; throws SuiteError saying
// what is accepted.
std::string storedForm(const SettingKey& key, std::string_view typed);

class Configuration;
// A number key's stored value brought into its range, its default where none is
// stored or what is stored is no number.
double numberSetting(const Configuration& config, const SettingKey& key);
// A choice key's stored word, its default where none or no word of its is stored.
std::string_view choiceSetting(const Configuration& config, const SettingKey& key);
// "a, b or c".
std::string choicesText(std::span<const std::string_view> choices);
// The desktop panel's layouts.
inline constexpr std::string_view layoutNames[] = {"vertical", "horizontal"};

// A colour's components as people write them: "#rrggbb", "#rrggbbaa" when it is not
// opaque, exactly such a colour; otherwise the numbers, "0.1,0.2,0.3,1".
std::string colorText(const double (&components)[4]);
// An interval as its choice's name where it is one ("slow"), else seconds ("2.5").
std::string intervalText(double seconds);

}  // namespace quillo
