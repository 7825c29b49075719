#pragma once

#include <string>
#include <string_view>

namespace quillo {

// The bytes decoded as UTF-8, each invalid sequence replaced by U+FFFD (one per
// maximal invalid subpart, as Unicode recommends).
std::string decodeUtf8Lossy(std::string_view bytes);

// The code point that starts at bytes[i]: its value and length. An invalid sequence
// gives length 0 (the byte at i stands alone) and the length of its maximal invalid
// subpart in invalidLength.
struct CodePoint {
    char32_t value = 0;
    std::size_t length = 0;
    std::size_t invalidLength = 1;
};
CodePoint codePointAt(std::string_view bytes, std::size_t i);

}  // namespace quillo
