#include "quillo/settings/Keys.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "quillo/platform/Text.hpp"
#include "quillo/settings/Configuration.hpp"
#include "quillo/settings/RefreshRate.hpp"
#include "quillo/settings/Rows.hpp"
#include "quillo/settings/SuiteText.hpp"
#include "quillo/settings/SuiteWriter.hpp"

namespace quillo {

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            const std::size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + !same});
            diagonal = row[j];
            row[j] = next;
        }
    }
    return row[b.size()];
}

namespace {

constexpr SettingKey keys[] = {
    {"RefreshRate", SettingKey::Kind::interval,
     "seconds between refreshes: fast (0.5), normal (1), slow (2), verySlow (5) or a number "
     "from 0.1 to 86400",
     defaultRefreshInterval},
    {"NormalColorKey", SettingKey::Kind::color, "bar colour below 50 % (battery: from 20 %)"},
    {"WarningColorKey", SettingKey::Kind::color, "bar colour from 50 % to below 80 %"},
    {"CriticalColorKey", SettingKey::Kind::color, "bar colour from 80 % (battery: below 20 %)"},
    {"AlertBatteryBelow", SettingKey::Kind::percent,
     "notify when the battery, discharging, falls below this percent (0: never)", 10},
    {"AlertMemoryAbove", SettingKey::Kind::percent,
     "notify when memory use rises above this percent (0: never)", 90},
    {"AlertDiskAbove", SettingKey::Kind::percent,
     "notify when the start-up disk's use rises above this percent (0: never)", 90},
    {"Rows", SettingKey::Kind::rows,
     "the panel's rows in order, from cpu, cores, memory, swap, pressure, disk, filesystems, "
     "diskio, network, interfaces, load, uptime, temperatures, fans, battery"},
    {"FileSystems", SettingKey::Kind::items,
     "the file systems the filesystems row shows, by mount point (/,/home), or all"},
    {"Interfaces", SettingKey::Kind::items,
     "the interfaces the interfaces row shows, by name (eth0,wlan0), or all"},
    {"Cgroup", SettingKey::Kind::cgroup,
     "the limits CPU and memory are shown against: auto (this process's cgroup), host, or a "
     "cgroup's path (/system.slice/foo.service)"},
    {"Palette", SettingKey::Kind::choice,
     "the level colours where none is set: default (green, amber, red) or colorblind (blue, "
     "orange, vermilion)",
     0, 0, 0, paletteNames},
    {"Opacity", SettingKey::Kind::number,
     "the desktop panel's opacity, from 0.2 (nearly see-through) to 1 (opaque)", 1, 0.2, 1},
    {"Scale", SettingKey::Kind::number,
     "the desktop panel's size, text and bars together, from 0.75 to 2", 1, 0.75, 2},
    {"Layout", SettingKey::Kind::choice,
     "the desktop panel's rows: vertical (one under another) or horizontal (side by side, "
     "for a screen's top or bottom edge)",
     0, 0, 0, layoutNames},
};

// "palette" for Palette: the word an error names the key's values by.
std::string noun(std::string_view name) {
    std::string text(name);
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string shortest(double value, bool asFloat) {
    char buffer[32];
    const auto result = asFloat ? std::to_chars(buffer, buffer + sizeof buffer, float(value))
                                : std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace

std::span<const SettingKey> settingKeys() {
    return keys;
}

const SettingKey* findSettingKey(std::string_view name) {
    for (const SettingKey& k : keys) {
        if (k.name == name) return &k;
    }
    return nullptr;
}

std::optional<std::string_view> nearestSettingKey(std::string_view name) {
    std::vector<std::string_view> names;
    for (const SettingKey& k : keys) names.push_back(k.name);
    return nearestWord(name, names);
}

std::string storedForm(const SettingKey& key, std::string_view typed) {
    switch (key.kind) {
        case SettingKey::Kind::interval:
            return jsonNumber(parseRefreshInterval(typed));
        case SettingKey::Kind::color:
            return jsonNumbers(parseColor(typed));
        case SettingKey::Kind::percent:
            return jsonNumber(parsePercent(typed));
        case SettingKey::Kind::rows: {
            // Row names are plain lower-case words: nothing in them needs escaping.
            std::string text = "[";
            for (const PanelRow row : parsePanelRows(typed))
                text += (text.size() > 1 ? ", \"" : "\"") + std::string(name(row)) + "\"";
            return text + "]";
        }
        case SettingKey::Kind::cgroup: {
            if (!isCgroupChoice(typed))
                throw SuiteError("\"" + std::string(typed) +
                                 "\" is not a cgroup: auto, host, or an absolute path such as "
                                 "/system.slice/foo.service");
            try {
                return nlohmann::json(std::string(typed)).dump();
            } catch (const nlohmann::json::type_error&) {
                throw SuiteError("\"" + std::string(typed) + "\" is not valid UTF-8");
            }
        }
        case SettingKey::Kind::choice:
            // The choices are plain words: nothing in them needs escaping.
            if (std::find(key.choices.begin(), key.choices.end(), typed) == key.choices.end())
                throw SuiteError("\"" + std::string(typed) + "\" is not a " + noun(key.name) +
                                 ": " + choicesText(key.choices));
            return "\"" + std::string(typed) + "\"";
        case SettingKey::Kind::number: {
            double value = 0;
            const auto [end, error] =
                std::from_chars(typed.data(), typed.data() + typed.size(), value);
            if (error != std::errc{} || end != typed.data() + typed.size() ||
                !std::isfinite(value) || value < key.minimum || value > key.maximum)
                throw SuiteError("\"" + std::string(typed) + "\" is not " +
                                 (key.name.find_first_of("AEIOU") == 0 ? "an " : "a ") +
                                 noun(key.name) + ": a number from " +
                                 shortest(key.minimum, false) + " to " +
                                 shortest(key.maximum, false));
            return jsonNumber(value);
        }
        case SettingKey::Kind::items: {
            std::vector<std::string> items = parseRowItems(key.name, typed);
            if (items.empty()) items.emplace_back(everyItem);
            try {
                return nlohmann::json(items).dump();
            } catch (const nlohmann::json::type_error&) {
                throw SuiteError("\"" + std::string(typed) + "\" is not valid UTF-8");
            }
        }
    }
    return {};
}

std::string colorText(const double (&c)[4]) {
    unsigned bytes[4];
    bool exact = true;
    for (int i = 0; i < 4; ++i) {
        const double scaled = std::round(c[i] * 255.0);
        exact = exact && scaled >= 0 && scaled <= 255 && scaled / 255.0 == c[i];
        bytes[i] = exact ? unsigned(scaled) : 0;
    }
    char text[16];
    if (exact) {
        std::snprintf(text, sizeof text, bytes[3] == 255 ? "#%02x%02x%02x" : "#%02x%02x%02x%02x",
                      bytes[0], bytes[1], bytes[2], bytes[3]);
        return text;
    }
    // The palette's colours are single-precision values: they read as people wrote them.
    std::string numbers;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) numbers += ',';
        numbers += shortest(c[i], double(float(c[i])) == c[i]);
    }
    return numbers;
}

std::string choicesText(std::span<const std::string_view> choices) {
    std::string text;
    for (std::size_t i = 0; i < choices.size(); ++i)
        text += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + std::string(choices[i]);
    return text;
}

double numberSetting(const Configuration& config, const SettingKey& key) {
    const auto stored = config.doubleValue(key.name);
    return stored && std::isfinite(*stored) ? std::clamp(*stored, key.minimum, key.maximum)
                                            : key.defaultNumber;
}

std::string_view choiceSetting(const Configuration& config, const SettingKey& key) {
    if (const auto stored = config.defaults->objectForKey(key.name);
        stored && stored->kind == StoredValue::Kind::string) {
        for (const std::string_view choice : key.choices)
            if (stored->strings[0] == choice) return choice;
    }
    return key.choices.empty() ? std::string_view() : key.choices.front();
}

std::string intervalText(double seconds) {
    for (const RefreshRate rate : allRefreshRates) {
        if (quillo::seconds(rate) == seconds) return std::string(name(rate));
    }
    return shortest(seconds, false);
}

}  // namespace quillo
