#pragma once
// The registry's figures as a scraper reads them: the Prometheus text format
// (version 0.0.4), or OpenMetrics 1.0 when the scraper's Accept header asks for it
// first. Counters and histograms carry no _created sample (it is optional in
// OpenMetrics, and unknown to the text format). Label values are escaped, and
// bytes that are not UTF-8 become U+FFFD, so a station name or port from outside
// cannot break a line or the format.
#include <functional>
#include <string>
#include <string_view>

#include "metrics/MetricsRegistry.h"

namespace velmora::metrics {

enum class ExpositionFormat { PrometheusText, OpenMetrics };

inline constexpr const char* kPrometheusTextContentType = "text/plain; version=0.0.4; charset=utf-8";
inline constexpr const char* kOpenMetricsContentType =
    "application/openmetrics-text; version=1.0.0; charset=utf-8";

const char* contentType(ExpositionFormat format);

// The format to answer a request with this Accept header (empty: none sent):
// OpenMetrics 1.0 when it is acceptable and ranked no lower than the text
// format, else the text format (also when neither is acceptable: a scraper that
// asks for something else still gets figures rather than an error).
ExpositionFormat formatForAccept(std::string_view accept);

// Whatever renders the figures in a format, for the endpoint and the file.
using MetricsSource = std::function<std::string(ExpositionFormat)>;

std::string renderExposition(const MetricsSnapshot& snapshot, ExpositionFormat format);

}  // namespace velmora::metrics
