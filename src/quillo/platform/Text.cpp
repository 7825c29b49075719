#include "quillo/platform/Text.hpp"

#include <charconv>
#include <cmath>

namespace quillo {

std::string_view trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\n\r\f\v";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

namespace {

template <class T, class... Base>
std::optional<T> whole(std::string_view field, Base... base) {
    T value{};
    const auto [end, ec] =
        std::from_chars(field.data(), field.data() + field.size(), value, base...);
    if (field.empty() || ec != std::errc{} || end != field.data() + field.size())
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::uint64_t> parseUnsigned(std::string_view field) {
    return whole<std::uint64_t>(field);
}

std::optional<std::int64_t> parseSigned(std::string_view field) {
    return whole<std::int64_t>(field);
}

std::optional<double> parseDecimal(std::string_view field) {
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(field.data(), field.data() + field.size(), value, std::chars_format::fixed);
    if (field.empty() || ec != std::errc{} || end != field.data() + field.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> parseHex(std::string_view field, std::size_t digits) {
    if (field.size() != digits) return std::nullopt;
    return whole<std::uint64_t>(field, 16);
}

std::optional<std::uint64_t> parseKilobytes(std::string_view value) {
    value = trim(value);
    if (value.ends_with(" kB")) value = trim(value.substr(0, value.size() - 3));
    return parseUnsigned(value);
}

}  // namespace quillo
