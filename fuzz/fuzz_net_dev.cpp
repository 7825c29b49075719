#include <cstdlib>
#include <string_view>

#include "quillo/platform/linux/Network.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    quillo::forEachNetDevLine(text, [&](std::string_view name, std::uint64_t, std::uint64_t) {
        // A name is always a piece of the text, never empty.
        if (name.empty() || name.data() < text.data() ||
            name.data() + name.size() > text.data() + text.size()) {
            std::abort();
        }
        return true;
    });
    return 0;
}
