#pragma once

#include <optional>
#include <string>

#include "quillo/platform/linux/HostSnapshot.hpp"

namespace quillo::cli {

// The Prometheus text format 0.0.4, or OpenMetrics 1.0.0 where the scraper asks for it.
enum class ExpositionFormat { text, openMetrics };

// Every figure of the snapshot as metrics named quillo_*, in base units. The CPU usage
// ratio is the caller's, measured over an interval of its choosing; without one it is
// left out, as is every value that could not be read (never a 0 or a NaN standing in
// for it).
std::string exposition(const HostSnapshot& now, std::optional<double> cpuRatio,
                       ExpositionFormat format);

// The share of the CPUs' time in use between two samples, as the panel counts it (all
// but idle and I/O wait); absent when no time passed or the counters went back.
std::optional<double> cpuBusyRatio(const CpuTimes& before, const CpuTimes& after);

const char* contentType(ExpositionFormat format);

// The format an Accept header asks for: OpenMetrics where it names it with a quality
// above 0 and no lower than the text format's (text/plain, text/* or */*), else text.
ExpositionFormat negotiate(const char* accept);

}  // namespace quillo::cli
