// procfs stat: the full parse and the targeted readers must agree on every input.
#include <cstdlib>
#include <string_view>

#include "quillo/platform/linux/Cpu.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quillo::ProcStat full = quillo::parseProcStat(text);
    const auto boot = quillo::parseProcStatBootTime(text);
    const auto cpu = quillo::parseProcStatCpu(text);
    if (text.starts_with("cpu ") && full.cpu.has_value() != cpu.has_value()) std::abort();
    if (full.bootTime && boot && *full.bootTime != *boot &&
        text.find("\nbtime ") == text.rfind("\nbtime ")) {
        std::abort();
    }
    return 0;
}
