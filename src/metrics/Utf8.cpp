#include "metrics/Utf8.hpp"

namespace quillo {

std::string decodeUtf8Lossy(std::string_view bytes) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            out += char(b0);
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            if (b0 == 0xE0) low = 0xA0;
            if (b0 == 0xED) high = 0x9F;  // no surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            if (b0 == 0xF0) low = 0x90;
            if (b0 == 0xF4) high = 0x8F;
        }
        std::size_t valid = 1;
        if (length != 0) {
            while (valid < length && i + valid < bytes.size()) {
                const auto b = static_cast<unsigned char>(bytes[i + valid]);
                const bool ok = valid == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
                if (!ok) break;
                ++valid;
            }
        }
        if (length != 0 && valid == length) {
            out.append(bytes.substr(i, length));
        } else {
            out += replacement;
        }
        i += valid;
    }
    return out;
}

}  // namespace quillo
