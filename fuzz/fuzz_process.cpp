#include <cstdlib>
#include <cstring>
#include <string_view>

#include "quillo/platform/linux/Processes.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    quillo::kinfo_proc info;
    if (quillo::parseProcessStat(text, info) && std::strlen(info.p_comm) > quillo::MAXCOMLEN)
        std::abort();
    (void)quillo::parseEffectiveUid(text);
    (void)quillo::parseStatmResidentPages(text);
    quillo::ProcessStatFigures figures;
    (void)quillo::parseProcessStatFigures(text, figures);
    (void)quillo::cpuTypeOfElf(text);
    return 0;
}
