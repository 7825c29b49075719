#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// What the suite holds under one key, reduced to the kinds the panel can use.
struct StoredValue {
    // An empty list is a numberList.
    enum class Kind { number, numberList, stringList, string, other };  // a string in strings[0]
    Kind kind = Kind::other;
    double number = 0.0;
    std::vector<double> numbers;
    std::vector<std::string> strings;
};

// The settings suite shared with the companion: one JSON object in one file.
// Lookups read the file afresh every time, so a change made by the companion is
// seen at the next lookup, unless a reading is held. A missing, unreadable,
// oversized or malformed file reads as an empty suite, silently: the panel falls
// back to its defaults.
class SettingsSuite {
  public:
    explicit SettingsSuite(std::filesystem::path path) : path_(std::move(path)) {}
    virtual ~SettingsSuite() = default;

    const std::filesystem::path& path() const { return path_; }

    virtual std::optional<StoredValue> objectForKey(std::string_view key) const;

    // Reads the file now and answers every lookup from that reading until the next
    // hold: a panel that asks for a dozen keys in one refresh reads its settings once
    // per refresh, and all its figures agree on them.
    void hold() const;

    // A suite file larger than this is not a settings file anyone wrote on purpose.
    static constexpr std::size_t maximumFileSize = 1 << 20;

  private:
    std::filesystem::path path_;
    mutable std::optional<std::string> held_;  // the held text; empty when unusable
};

// A settings file's bytes, read without blocking: a FIFO or device at the path is no
// settings file and is never waited on.
struct SettingsFile {
    enum class Status { read, missing, failed, notRegular, tooLarge };
    Status status = Status::missing;
    int error = 0;  // errno when failed
    std::string text;
};
SettingsFile readSettingsFile(const std::filesystem::path& path, std::size_t limit);

// Pure part of a lookup: the value stored under a top-level key of a JSON text. A NUL
// byte makes the text no suite, as other JSON readers would say.
std::optional<StoredValue> parseSuiteValue(std::string_view json, std::string_view key);

// The text as the JSON parser is to see it: a number beyond double's range, valid JSON
// that the parser refuses, reads as null, so that another program's 1e400 costs the user
// no setting (none of Quillo's values is such a number). The text itself unless
// something was replaced, in scratch.
std::string_view withNumbersInRange(std::string_view text, std::string& scratch);

// $HOME, else the user database's home, else "/".
std::filesystem::path homeFolder();

// $XDG_CONFIG_HOME/quillo/io.quillo.shared.json, with ~/.config when the variable is
// unset, empty or relative (as the XDG base directory rules say).
std::filesystem::path defaultSuitePath();

inline constexpr std::string_view suiteName = "io.quillo.shared";

}  // namespace quillo
