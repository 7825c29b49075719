#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace quillo {

using FormatArgument = std::variant<std::int64_t, double, std::string_view>;

// printf in the C locale whatever the user's locale: a full stop as the decimal
// separator, no grouping, ties rounded as printf rounds them. Understands the
// conversions the panel's texts use (%d, %f with flags, width and precision, %@ and
// %s for a text, %%); an integer argument for %f or a double for %d is converted, and
// a conversion without an argument prints nothing, so a format from a translation can
// never read past its arguments.
std::string formatC(std::string_view format, std::initializer_list<FormatArgument> arguments);

// The label text of a number of bytes per second: whole bytes below 900, then KB, MB
// and GB of 1024 with one decimal, each unit left before its value would reach 900.
std::string formatRate(std::uint64_t bytes);

// A wall time in milliseconds since the epoch through strftime's format, in local time
// or UTC; "?" where the time cannot be broken down.
std::string wallTimeText(std::int64_t ms, const char* format, bool utc = false);

// The conversions of a format in order ("d", "f", "@"...), to check that a translated
// format takes the same arguments as its key.
std::string conversionsOf(std::string_view format);

// Text from outside (process, interface and model names, settings keys and values,
// anything a user typed) never reaches a terminal raw. One rule says which characters
// are escaped: the C0 controls, DEL, the C1 controls, the bidirectional controls
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069), the line and paragraph
// separators (U+2028, U+2029) and the byte order mark (U+FEFF): they could move the
// cursor, retitle the terminal or make a name read backwards.
bool mustEscape(char32_t codePoint);

// For a terminal: those characters and bytes that are not UTF-8 become visible escapes
// ("\x1b", "\u202e", "\xff"), and the backslash is doubled; everything else is kept.
std::string visibleText(std::string_view text);

// A JSON string literal of valid UTF-8 text: quotes, backslashes and every character
// the rule names escaped as JSON requires (\uXXXX).
std::string jsonString(std::string_view text);
// A JSON document from a serializer that escapes only what JSON requires: the other
// characters the rule names, which can stand only inside strings, escaped as \uXXXX.
std::string jsonEscaped(std::string json);

}  // namespace quillo
