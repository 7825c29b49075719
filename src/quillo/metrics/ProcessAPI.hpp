#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillo/platform/Records.hpp"

namespace quillo {

// One running process.
struct ProcessInfo {
    std::int64_t pid = 0;
    std::int64_t ppid = 0;
    std::int64_t pgid = 0;
    std::int64_t uid = 0;     // effective, zero-extended from 32 bits
    std::string command;      // at most 16 bytes of name, invalid UTF-8 replaced
    std::int32_t arch = -1;   // a CPU_TYPE_ constant, -1 when it cannot be read
    std::int32_t status = 0;  // SIDL, SRUN, SSLEEP, SSTOP, SZOMB, or 0
    friend bool operator==(const ProcessInfo&, const ProcessInfo&) = default;
};

// The processes of the machine, in the kernel's order. A process that ends while the
// list is made keeps its pid with every other field cleared (and arch -1).
struct ProcessAPI {
    static std::vector<ProcessInfo> list();
};

}  // namespace quillo
