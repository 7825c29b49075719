#pragma once

#include <optional>
#include <string>

#include "quillo/metrics/Sample.hpp"

namespace quillo::cli {

// The Prometheus text format 0.0.4, or OpenMetrics 1.0.0 where the scraper asks for it.
enum class ExpositionFormat { text, openMetrics };

// Every figure of the sample as metrics named quillo_*, in base units. What the sample
// lacks is left out, never a 0 or a NaN standing in for it.
std::string exposition(const Sample& sample, ExpositionFormat format);

const char* contentType(ExpositionFormat format);

// The format an Accept header asks for: OpenMetrics where it names it with a quality
// above 0 and no lower than the text format's (text/plain, text/* or */*), else text.
ExpositionFormat negotiate(const char* accept);

}  // namespace quillo::cli
