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
    enum class Kind { interval, color, percent, rows, items, cgroup, palette };
    std::string_view name;
    Kind kind;
    std::string_view help;
    double defaultNumber = 0;  // an interval's or a percent's; colours default to the palette
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

// A colour's components as people write them: "#rrggbb", "#rrggbbaa" when it is not
// opaque, exactly such a colour; otherwise the numbers, "0.1,0.2,0.3,1".
std::string colorText(const double (&components)[4]);
// An interval as its choice's name where it is one ("slow"), else seconds ("2.5").
std::string intervalText(double seconds);

}  // namespace quillo
