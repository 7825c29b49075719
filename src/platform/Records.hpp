#pragma once

#include <cstdint>

namespace quillo {

// Records named and laid out as the operating system that first defined them
// names them, so the metrics above read the same fields on any platform.

enum : int { CPU_STATE_USER = 0, CPU_STATE_SYSTEM = 1, CPU_STATE_IDLE = 2, CPU_STATE_NICE = 3 };

// Scheduler ticks of all processors together, per state; 32-bit counters that wrap.
struct host_cpu_load_info {
    std::uint32_t cpu_ticks[4] = {0, 0, 0, 0};
};

}  // namespace quillo
