#include "metrics/MetricsRegistry.h"

#include <algorithm>

namespace velmora::metrics {

MetricsRegistry::MetricsRegistry(std::vector<MetricFamily> families,
                                 std::vector<std::pair<std::string, std::string>> constantLabels)
    : definitions_(std::make_shared<const std::vector<MetricFamily>>(std::move(families))),
      constantLabels_(std::move(constantLabels)),
      series_(definitions_->size()) {}

Series& MetricsRegistry::seriesLocked(std::size_t family, const std::vector<std::string>& labelValues) {
    auto [found, added] = series_.at(family).try_emplace(labelValues);
    if (added) {
        found->second.labelValues = labelValues;
        const MetricFamily& definition = (*definitions_)[family];
        if (definition.type == MetricType::Histogram)
            found->second.histogram.bucketCounts.assign(definition.bucketBounds.size() + 1, 0);
    }
    return found->second;
}

void MetricsRegistry::add(std::size_t family, const std::vector<std::string>& labelValues, double amount) {
    std::lock_guard lock(mutex_);
    seriesLocked(family, labelValues).value += amount;
}

void MetricsRegistry::set(std::size_t family, const std::vector<std::string>& labelValues, double value) {
    std::lock_guard lock(mutex_);
    seriesLocked(family, labelValues).value = value;
}

void MetricsRegistry::observe(std::size_t family, const std::vector<std::string>& labelValues, double value) {
    const std::vector<double>& bounds = (*definitions_)[family].bucketBounds;
    // The first bucket whose bound holds the value; past the last bound: +Inf.
    const auto bucket =
        static_cast<std::size_t>(std::lower_bound(bounds.begin(), bounds.end(), value) - bounds.begin());
    std::lock_guard lock(mutex_);
    Histogram& histogram = seriesLocked(family, labelValues).histogram;
    ++histogram.bucketCounts[bucket];
    histogram.sum += value;
    ++histogram.count;
}

MetricsSnapshot MetricsRegistry::snapshot() const {
    MetricsSnapshot snapshot{definitions_, constantLabels_, {}};
    std::lock_guard lock(mutex_);
    for (std::size_t family = 0; family < series_.size(); ++family) {
        if (series_[family].empty()) continue;
        FamilySnapshot& copy = snapshot.families.emplace_back();
        copy.family = &(*definitions_)[family];
        copy.series.reserve(series_[family].size());
        for (const auto& [labels, series] : series_[family]) copy.series.push_back(series);
    }
    return snapshot;
}

}  // namespace velmora::metrics
