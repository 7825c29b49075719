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

// The conversions of a format in order ("d", "f", "@"...), to check that a translated
// format takes the same arguments as its key.
std::string conversionsOf(std::string_view format);

// Text from the machine (process, interface and model names) never reaches a terminal
// raw: control characters (C0, DEL and C1) and the backslash become visible escapes
// ("\x1b", "\\", "\u009b"); everything else, valid UTF-8 included, is kept.
std::string visibleText(std::string_view text);

}  // namespace quillo
