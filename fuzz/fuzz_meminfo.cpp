#include <string_view>

#include "quillo/platform/linux/Memory.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quillo::MemInfo info = quillo::parseMemInfo(text);
    (void)quillo::parseSwapActivity(text);
    for (const std::uint64_t page : {0ull, 4096ull, 16384ull, 1ull})
        (void)quillo::vmStatisticsFrom(info, page);
    return 0;
}
