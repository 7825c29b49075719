#include <string_view>

#include "quillo/platform/linux/Cpu.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quillo::LoadAvg load = quillo::parseLoadAvg(text);
    for (const int cpus : {0, 1, 8, 4096}) (void)quillo::hostLoadFrom(load, cpus);
    return 0;
}
