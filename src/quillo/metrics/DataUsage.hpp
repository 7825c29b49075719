#pragma once

#include <cstdint>

namespace quillo {

// Cumulative byte counters of one interface; both zero on every failure to read them.
struct data_usage {
    std::uint64_t upload = 0;
    std::uint64_t download = 0;
    friend bool operator==(const data_usage&, const data_usage&) = default;
};

// The counters of the named interface: upload from its sent bytes, download from its
// received bytes, from the first entry of the interface list for it (never a sum).
// Zero counters when the interface does not exist, the list cannot be read or holds
// no entry for it; "malloc failed" is printed once when no buffer can be had.
data_usage get_data_usage(const char* name);

}  // namespace quillo
