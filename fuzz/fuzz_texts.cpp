// Texts from outside: a translated format (it comes from a file), names from the
// machine, bytes decoded as UTF-8.
#include <cstdlib>
#include <string>
#include <string_view>

#include "quillo/metrics/Utf8.hpp"
#include "quillo/widget/Format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)quillo::formatC(text, {std::int64_t{-7}, 3.25, std::string_view("x")});
    (void)quillo::conversionsOf(text);
    const std::string decoded = quillo::decodeUtf8Lossy(text);
    if (quillo::decodeUtf8Lossy(decoded) != decoded) std::abort();  // decoding is idempotent
    for (const char c : quillo::visibleText(decoded)) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
    }
    return 0;
}
