#include "quillo/metrics/Utf8.hpp"

namespace quillo {

CodePoint codePointAt(std::string_view bytes, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) return {b0, 1, 1};
    std::size_t length = 0;
    char32_t value = 0;
    unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        value = b0 & 0x0F;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        value = b0 & 0x07;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    }
    std::size_t valid = 1;
    if (length != 0) {
        while (valid < length && i + valid < bytes.size()) {
            const auto b = static_cast<unsigned char>(bytes[i + valid]);
            const bool ok = valid == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
            if (!ok) break;
            value = value << 6 | (b & 0x3F);
            ++valid;
        }
    }
    if (length != 0 && valid == length) return {value, length, length};
    return {0, 0, valid};
}

std::string decodeUtf8Lossy(std::string_view bytes) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const CodePoint c = codePointAt(bytes, i);
        if (c.length != 0) {
            out.append(bytes.substr(i, c.length));
            i += c.length;
        } else {
            out += replacement;
            i += c.invalidLength;
        }
    }
    return out;
}

}  // namespace quillo
