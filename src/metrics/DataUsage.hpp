#pragma once

#include <cstdint>

namespace quillo {

// Cumulative byte counters of one interface; both zero on every failure to read them.
struct data_usage {
    std::uint64_t upload = 0;
    std::uint64_t download = 0;
};

}  // namespace quillo
