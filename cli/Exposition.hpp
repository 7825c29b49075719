#pragma once

#include <optional>
#include <string>

#include "quillo/platform/linux/HostSnapshot.hpp"

namespace quillo::cli {

// The Prometheus text format 0.0.4, or OpenMetrics 1.0.0 where the scraper asks for it.
enum class ExpositionFormat { text, openMetrics };

// Every figure of the snapshot as metrics named quillo_*, in base units. The CPU usage
// ratio is over the time since previous, the CPU times of an earlier sample; without
// one it is left out, as is every value that could not be read (never a 0 or a NaN
// standing in for it).
std::string exposition(const HostSnapshot& now, const std::optional<CpuTimes>& previous,
                       ExpositionFormat format);

const char* contentType(ExpositionFormat format);

// The format an Accept header asks for: OpenMetrics when it names it, else text.
ExpositionFormat negotiate(const char* accept);

}  // namespace quillo::cli
