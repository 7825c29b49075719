#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quillo {

// Helpers for the plain text that kernels, settings and users hand us. Every parser
// answers absent rather than guess: an empty field, a sign or a trailing character
// where none belongs is not a number.

// Without leading and trailing blanks (space, tab, line feed, carriage return, form
// feed, vertical tab).
std::string_view trim(std::string_view text);

std::optional<std::uint64_t> parseUnsigned(std::string_view field);
std::optional<std::int64_t> parseSigned(std::string_view field);
// Fixed notation only ("0.21"), finite.
std::optional<double> parseDecimal(std::string_view field);
// Exactly that many hexadecimal digits.
std::optional<std::uint64_t> parseHex(std::string_view field, std::size_t digits);

// Calls f(field) for each run of characters other than space and tab; stops early
// when f returns false.
template <class F>
void forEachField(std::string_view line, F&& f) {
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start && !f(line.substr(start, i - start))) return;
    }
}

// Calls f(line) for each line, without its line feed; stops early when f returns false.
template <class F>
void forEachLine(std::string_view text, F&& f) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (!f(text.substr(0, end))) return;
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

// The first N fields of a line into out; returns how many there were, at most N.
template <std::size_t N>
int leadingFields(std::string_view line, std::string_view (&out)[N]) {
    int n = 0;
    forEachField(line, [&](std::string_view field) {
        out[n++] = field;
        return n < int(N);
    });
    return n;
}

// A value kept as "  Key:   value kB" in procfs: the value without its unit.
std::optional<std::uint64_t> parseKilobytes(std::string_view value);

}  // namespace quillo
