#pragma once
// The figures a program exports to a line's monitoring, kept as Prometheus keeps
// them: families of series told apart by their label values. The families are
// fixed when the registry is made; their series appear as they are first
// touched. Every update holds the registry's lock only for the update itself, and
// a scrape renders a copy taken under that lock (snapshot), so whoever feeds it
// never waits on a scraper.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velmora::metrics {

// Info: one series of value 1 whose labels carry the facts (the version).
enum class MetricType { Counter, Gauge, Histogram, Info };

struct MetricFamily {
    // The family's name, without the suffixes its samples add (_total for a
    // counter, _info for an info metric, _bucket, _sum and _count for a histogram).
    std::string name;
    std::string help;
    MetricType type = MetricType::Gauge;
    std::string unit;                     // "seconds", or empty; the name ends with it
    std::vector<std::string> labelNames;  // besides the registry's constant labels
    std::vector<double> bucketBounds;     // a histogram's upper bounds, ascending, without +Inf
};

struct Histogram {
    std::vector<std::uint64_t> bucketCounts;  // per bound, not cumulative; the last one is +Inf
    double sum = 0;
    std::uint64_t count = 0;
};

struct Series {
    std::vector<std::string> labelValues;  // one per label name of its family
    double value = 0;                      // a counter's or a gauge's
    Histogram histogram;
};

struct FamilySnapshot {
    const MetricFamily* family = nullptr;  // lives as long as the snapshot's definitions
    std::vector<Series> series;            // in label order
};

// A copy of the registry at one moment, for rendering without its lock.
struct MetricsSnapshot {
    std::shared_ptr<const std::vector<MetricFamily>> definitions;
    std::vector<std::pair<std::string, std::string>> constantLabels;
    std::vector<FamilySnapshot> families;  // those with at least one series, in registry order
};

class MetricsRegistry {
public:
    // constantLabels: name and value of labels every series carries (the station's name).
    MetricsRegistry(std::vector<MetricFamily> families,
                    std::vector<std::pair<std::string, std::string>> constantLabels);

    // family: an index into the families given. labelValues: one per label name.
    void add(std::size_t family, const std::vector<std::string>& labelValues, double amount = 1);
    void set(std::size_t family, const std::vector<std::string>& labelValues, double value);
    void observe(std::size_t family, const std::vector<std::string>& labelValues, double value);

    MetricsSnapshot snapshot() const;

private:
    using SeriesMap = std::map<std::vector<std::string>, Series>;
    Series& seriesLocked(std::size_t family, const std::vector<std::string>& labelValues);

    std::shared_ptr<const std::vector<MetricFamily>> definitions_;
    std::vector<std::pair<std::string, std::string>> constantLabels_;
    mutable std::mutex mutex_;
    std::vector<SeriesMap> series_;  // per family
};

}  // namespace velmora::metrics
