// procfs stat: a parse that stops early must agree with the full one on every input.
#include <cstdlib>
#include <string_view>

#include "quillo/platform/linux/Cpu.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    using quillo::ProcStat;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ProcStat full = quillo::parseProcStat(text);
    const auto cpu = quillo::parseProcStat(text, ProcStat::aggregate).cpu;
    const auto boot = quillo::parseProcStat(text, ProcStat::btime).bootTime;
    const auto same = [](const quillo::CpuTimes& a, const quillo::CpuTimes& b) {
        return a.user == b.user && a.idle == b.idle && a.steal == b.steal;
    };
    if (full.cpu.has_value() != cpu.has_value() || (cpu && !same(*cpu, *full.cpu))) std::abort();
    if (full.bootTime != boot) std::abort();
    return 0;
}
