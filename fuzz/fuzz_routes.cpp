#include <string_view>

#include "quillo/platform/linux/Network.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)quillo::parseIPv4DefaultRoute(text);
    (void)quillo::parseIPv6DefaultRoute(text);
    return 0;
}
