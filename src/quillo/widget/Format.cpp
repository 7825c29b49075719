#include "quillo/widget/Format.hpp"

#include <locale.h>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "quillo/metrics/Utf8.hpp"

namespace quillo {

namespace {

locale_t cLocale() {
    static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

// One conversion printed with snprintf under the C locale of this thread only.
template <class T>
void appendOne(std::string& out, const std::string& conversion, T value) {
    const locale_t previous = ::uselocale(cLocale());
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, conversion.c_str(), value);
    ::uselocale(previous);
    if (n > 0) out.append(buffer, std::size_t(std::min(n, int(sizeof buffer) - 1)));
}

struct Conversion {
    std::string_view flags;  // flags, width and precision, as written
    char type = 0;
    std::size_t length = 0;  // characters from the '%' on
};

// Flags, width and precision, digits only (no '*', which would take an argument).
Conversion parseConversion(std::string_view rest) {
    std::size_t i = 1;
    while (i < rest.size() && std::string_view("-+ #0").find(rest[i]) != std::string_view::npos)
        ++i;
    // A width or precision of three digits or more is no text of ours: printf would
    // allocate for it, so such a conversion is not honoured.
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i;
        return i - start;
    };
    if (digits() > 2) return {};
    if (i < rest.size() && rest[i] == '.') {
        ++i;
        if (digits() > 2) return {};
    }
    // Length modifiers are accepted and ignored: the argument's own type decides.
    while (i < rest.size() && std::string_view("hlqLjzt").find(rest[i]) != std::string_view::npos)
        ++i;
    if (i >= rest.size()) return {};
    return {rest.substr(1, i - 1), rest[i], i + 1};
}

std::string withoutLengthModifiers(std::string_view flags) {
    std::string conversion;
    for (const char c : flags) {
        if (std::string_view("hlqLjzt").find(c) == std::string_view::npos) conversion += c;
    }
    return conversion;
}

}  // namespace

std::string formatC(std::string_view format, std::initializer_list<FormatArgument> arguments) {
    std::string out;
    auto next = arguments.begin();
    std::size_t i = 0;
    while (i < format.size()) {
        const std::size_t percent = format.find('%', i);
        out.append(format.substr(i, percent - i));
        if (percent == std::string_view::npos) break;
        const std::string_view rest = format.substr(percent);
        if (rest.size() > 1 && rest[1] == '%') {
            out += '%';
            i = percent + 2;
            continue;
        }
        const Conversion c = parseConversion(rest);
        const bool known =
            c.type == 'd' || c.type == 'i' || c.type == 'f' || c.type == '@' || c.type == 's';
        if (!known) {
            out += '%';
            i = percent + 1;
            continue;
        }
        i = percent + c.length;
        if (next == arguments.end()) continue;
        const FormatArgument& argument = *next++;
        const std::string conversion = "%" + withoutLengthModifiers(c.flags);
        if (c.type == 'd' || c.type == 'i') {
            long long value = 0;
            if (const auto* i = std::get_if<std::int64_t>(&argument)) {
                value = *i;
            } else if (const auto* d = std::get_if<double>(&argument)) {
                // Truncated as C converts, within the range; not-a-number prints 0.
                if (*d >= 9223372036854775807.0) {
                    value = LLONG_MAX;
                } else if (*d <= -9223372036854775808.0) {
                    value = LLONG_MIN;
                } else if (!std::isnan(*d)) {
                    value = static_cast<long long>(*d);
                }
            }
            appendOne(out, conversion + "lld", value);
        } else if (c.type == 'f') {
            const double value = std::holds_alternative<double>(argument)
                                     ? std::get<double>(argument)
                                 : std::holds_alternative<std::int64_t>(argument)
                                     ? double(std::get<std::int64_t>(argument))
                                     : 0.0;
            // x86 makes 0/0 a negative NaN, which glibc prints "-nan"; the sign of a NaN
            // means nothing, so it always reads "nan".
            appendOne(out, conversion + "f", std::isnan(value) ? std::fabs(value) : value);
        } else if (const auto* text = std::get_if<std::string_view>(&argument)) {
            out.append(*text);
        }
    }
    return out;
}

std::string formatRate(std::uint64_t b) {
    if (b < 900) return formatC("%d B/s", {std::int64_t(b)});
    const double d = double(b);
    if (b < 921'600) return formatC("%.1f KB/s", {d / 1024.0});
    if (b < 943'718'400) return formatC("%.1f MB/s", {d / 1048576.0});
    return formatC("%.1f GB/s", {d / 1073741824.0});
}

std::string wallTimeText(std::int64_t ms, const char* format, bool utc) {
    const auto seconds = std::time_t(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm tm{};
    if (utc ? !::gmtime_r(&seconds, &tm) : !::localtime_r(&seconds, &tm)) return "?";
    char text[64];
    return std::strftime(text, sizeof text, format, &tm) ? text : "?";
}

std::string conversionsOf(std::string_view format) {
    std::string types;
    for (std::size_t i = format.find('%'); i != std::string_view::npos; i = format.find('%', i)) {
        const std::string_view rest = format.substr(i);
        if (rest.size() > 1 && rest[1] == '%') {
            i += 2;
            continue;
        }
        const Conversion c = parseConversion(rest);
        if (c.type == 0) break;
        types += (c.type == 'i') ? 'd' : (c.type == 's') ? '@' : c.type;
        i += c.length;
    }
    return types;
}

bool mustEscape(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 ||
           c == 0x2029 || c == 0xFEFF;
}

namespace {

void appendEscape(std::string& out, const char* format, unsigned value) {
    char escape[12];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

}  // namespace

std::string visibleText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint c = codePointAt(text, i);
        if (c.length == 0) {
            appendEscape(out, "\\x%02x", static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (c.value == '\\') {
            out += "\\\\";
        } else if (c.value < 0x80 && mustEscape(c.value)) {
            appendEscape(out, "\\x%02x", unsigned(c.value));
        } else if (mustEscape(c.value)) {
            appendEscape(out, "\\u%04x", unsigned(c.value));
        } else {
            out.append(text.substr(i, c.length));
        }
        i += c.length;
    }
    return out;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint c = codePointAt(text, i);
        const std::size_t length = c.length == 0 ? 1 : c.length;
        if (c.length == 0) {
            out += "\\ufffd";
        } else if (c.value == '"' || c.value == '\\') {
            out += '\\';
            out += char(c.value);
        } else if (mustEscape(c.value)) {
            appendEscape(out, "\\u%04x", unsigned(c.value));
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out + "\"";
}

std::string jsonEscaped(std::string json) {
    std::string out;
    out.reserve(json.size());
    for (std::size_t i = 0; i < json.size();) {
        const CodePoint c = codePointAt(json, i);
        if (c.length != 0 && c.value >= 0x20 && mustEscape(c.value)) {
            appendEscape(out, "\\u%04x", unsigned(c.value));
            i += c.length;
        } else {
            out += json[i++];
        }
    }
    return out;
}

}  // namespace quillo
