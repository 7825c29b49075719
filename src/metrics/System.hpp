#pragma once

#include "platform/Records.hpp"

namespace quillo {

// The machine's own state. Every operation but usageCPU is static and keeps no state;
// usageCPU compares against the tick sample kept in loadPrevious.
struct System {
    host_cpu_load_info loadPrevious{};

    static System init() { return System{}; }
};

}  // namespace quillo
