#include "metrics/Exposition.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "app/Utf8.h"

namespace velmora::metrics {
namespace {

// --- Numbers -----------------------------------------------------------------

void appendNumber(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
    } else if (std::isinf(value)) {
        out += value > 0 ? "+Inf" : "-Inf";
    } else {
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        out.append(buffer, end);
    }
}

void appendCount(std::string& out, std::uint64_t value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

// A bucket's bound as each format's own clients write it: "1" in the text
// format, "1.0" in OpenMetrics, whose bounds are floats.
std::string boundText(double bound, ExpositionFormat format) {
    std::string text;
    appendNumber(text, bound);
    if (format == ExpositionFormat::OpenMetrics && text.find_first_of(".eEnI") == std::string::npos)
        text += ".0";
    return text;
}

// --- Text --------------------------------------------------------------------

// Backslashes and line ends always; double quotes inside label values, and in
// OpenMetrics' help texts too.
void appendEscaped(std::string& out, std::string_view raw, bool escapeQuotes) {
    std::string mended;
    if (!isValidUtf8(raw)) raw = mended = withValidUtf8(raw);
    for (const char character : raw) {
        switch (character) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '"': out += escapeQuotes ? "\\\"" : "\""; break;
            default: out += character;
        }
    }
}

struct Label {
    std::string_view name;
    std::string_view value;
};

class Writer {
public:
    Writer(const MetricsSnapshot& snapshot, ExpositionFormat format) : snapshot_(snapshot), format_(format) {}

    std::string render() {
        for (const FamilySnapshot& family : snapshot_.families) writeFamily(*family.family, family.series);
        if (openMetrics()) out_ += "# EOF\n";
        return std::move(out_);
    }

private:
    bool openMetrics() const { return format_ == ExpositionFormat::OpenMetrics; }

    void writeFamily(const MetricFamily& family, const std::vector<Series>& series) {
        if (openMetrics()) {
            writeComment("TYPE", family.name, typeName(family.type));
            if (!family.unit.empty()) writeComment("UNIT", family.name, family.unit);
            writeHelp(family.name, family.help);
        } else {
            // The text format knows no info type, and names a counter by its samples.
            const std::string name = family.name + sampleSuffix(family.type);
            writeHelp(name, family.help);
            writeComment("TYPE", name, family.type == MetricType::Info ? "gauge" : typeName(family.type));
        }
        for (const Series& one : series) writeSeries(family, one);
    }

    void writeSeries(const MetricFamily& family, const Series& series) {
        if (family.type != MetricType::Histogram) {
            const double value = family.type == MetricType::Info ? 1 : series.value;
            writeSample(family.name + sampleSuffix(family.type), family, series, nullptr,
                        [&](std::string& out) { appendNumber(out, value); });
            return;
        }
        const Histogram& histogram = series.histogram;
        std::uint64_t cumulative = 0;
        for (std::size_t bucket = 0; bucket < histogram.bucketCounts.size(); ++bucket) {
            cumulative += histogram.bucketCounts[bucket];
            const std::string bound = bucket < family.bucketBounds.size()
                                          ? boundText(family.bucketBounds[bucket], format_)
                                          : std::string("+Inf");
            const Label le{"le", bound};
            writeSample(family.name + "_bucket", family, series, &le,
                        [&](std::string& out) { appendCount(out, cumulative); });
        }
        writeSample(family.name + "_sum", family, series, nullptr,
                    [&](std::string& out) { appendNumber(out, histogram.sum); });
        writeSample(family.name + "_count", family, series, nullptr,
                    [&](std::string& out) { appendCount(out, histogram.count); });
    }

    template <typename AppendValue>
    void writeSample(const std::string& name, const MetricFamily& family, const Series& series,
                     const Label* extra, AppendValue appendValue) {
        out_ += name;
        bool first = true;
        const auto label = [&](std::string_view labelName, std::string_view value) {
            out_ += first ? "{" : ",";
            first = false;
            out_ += labelName;
            out_ += "=\"";
            appendEscaped(out_, value, true);
            out_ += '"';
        };
        for (const auto& [labelName, value] : snapshot_.constantLabels) label(labelName, value);
        for (std::size_t index = 0; index < family.labelNames.size(); ++index)
            label(family.labelNames[index], series.labelValues.at(index));
        if (extra != nullptr) label(extra->name, extra->value);
        if (!first) out_ += '}';
        out_ += ' ';
        appendValue(out_);
        out_ += '\n';
    }

    void writeHelp(const std::string& name, const std::string& help) {
        out_ += "# HELP " + name + ' ';
        appendEscaped(out_, help, openMetrics());
        out_ += '\n';
    }

    void writeComment(const char* keyword, const std::string& name, const std::string& text) {
        out_ += std::string("# ") + keyword + ' ' + name + ' ' + text + '\n';
    }

    static const char* typeName(MetricType type) {
        switch (type) {
            case MetricType::Counter: return "counter";
            case MetricType::Gauge: return "gauge";
            case MetricType::Histogram: return "histogram";
            case MetricType::Info: return "info";
        }
        return "unknown";
    }

    static std::string sampleSuffix(MetricType type) {
        if (type == MetricType::Counter) return "_total";
        if (type == MetricType::Info) return "_info";
        return {};
    }

    const MetricsSnapshot& snapshot_;
    ExpositionFormat format_;
    std::string out_;
};

// --- Accept ------------------------------------------------------------------

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string lowered(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char character) { return static_cast<char>(std::tolower(character)); });
    return lower;
}

// One media range of an Accept header: its type, its version parameter and its q.
struct MediaRange {
    std::string type;
    std::string version;
    double quality = 1;
};

MediaRange parseMediaRange(std::string_view text) {
    MediaRange range;
    std::size_t end = text.find(';');
    range.type = lowered(trimmed(text.substr(0, end)));
    while (end != std::string_view::npos) {
        const std::size_t start = end + 1;
        end = text.find(';', start);
        const std::string_view parameter =
            text.substr(start, end == std::string_view::npos ? end : end - start);
        const std::size_t equals = parameter.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string name = lowered(trimmed(parameter.substr(0, equals)));
        std::string_view value = trimmed(parameter.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (name == "version") range.version = std::string(value);
        if (name == "q") {
            const std::string number(value);
            char* parsedEnd = nullptr;
            const double quality = std::strtod(number.c_str(), &parsedEnd);
            range.quality = parsedEnd != number.c_str() && quality >= 0 && quality <= 1 ? quality : 0;
        }
    }
    return range;
}

}  // namespace

const char* contentType(ExpositionFormat format) {
    return format == ExpositionFormat::OpenMetrics ? kOpenMetricsContentType : kPrometheusTextContentType;
}

ExpositionFormat formatForAccept(std::string_view accept) {
    double openMetrics = 0;
    double text = 0;
    std::size_t start = 0;
    while (start <= accept.size()) {
        const std::size_t comma = std::min(accept.find(',', start), accept.size());
        const MediaRange range = parseMediaRange(accept.substr(start, comma - start));
        start = comma + 1;
        if (range.type == "application/openmetrics-text" &&
            (range.version.empty() || range.version == "1.0.0"))
            openMetrics = std::max(openMetrics, range.quality);
        if (range.type == "text/plain" || range.type == "text/*" || range.type == "*/*")
            text = std::max(text, range.quality);
    }
    return openMetrics > 0 && openMetrics >= text ? ExpositionFormat::OpenMetrics
                                                  : ExpositionFormat::PrometheusText;
}

std::string renderExposition(const MetricsSnapshot& snapshot, ExpositionFormat format) {
    return Writer(snapshot, format).render();
}

}  // namespace velmora::metrics
