#pragma once

#include <string>
#include <string_view>

namespace quillo {

// The bytes decoded as UTF-8, each invalid sequence replaced by U+FFFD (one per
// maximal invalid subpart, as Unicode recommends).
std::string decodeUtf8Lossy(std::string_view bytes);

}  // namespace quillo
