#include "quillo/widget/HistoryChart.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quillo/widget/Format.hpp"

namespace quillo {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t minuteMs = 60'000;

std::int64_t spanMs(HistorySpan span) {
    switch (span) {
        case HistorySpan::hour:
            return 3'600'000;
        case HistorySpan::day:
            return 86'400'000;
        case HistorySpan::month:
            return 30 * 86'400'000LL;
    }
    return 0;
}

}  // namespace

std::string historyValueText(HistoryUnit unit, double v) {
    switch (unit) {
        case HistoryUnit::percent:
            return formatC("%.0f%%", {v});
        case HistoryUnit::load:
            return formatC("%.2f", {v});
        case HistoryUnit::rate:
            return formatRate(std::uint64_t(std::max(0.0, std::round(v))));
        case HistoryUnit::celsius:
            return formatC("%.0f \u00b0C", {v});
    }
    return {};
}

HistoryChart::HistoryChart(const std::filesystem::path& folder, std::size_t figure,
                           HistorySpan span, std::int64_t nowMs)
    : folder_(folder), figure_(figure), span_(span), fromMs_(nowMs - spanMs(span)), toMs_(nowMs) {
    HistoryReader reader(folder);
    // The minutes are wanted in every span: for the processes, and past the hour for the line.
    for (const HistoryMinute& m : reader.minutes(fromMs_ - minuteMs, toMs_, false)) {
        minutes_.emplace_back(m.wallMs, m.sequence);
        if (span != HistorySpan::hour && m.wallMs >= fromMs_ && std::isfinite(m.values[figure]))
            points_.push_back({m.wallMs, m.minima[figure], m.values[figure], m.maxima[figure]});
    }
    if (span != HistorySpan::hour) return;
    for (const HistoryPoint& p : reader.seconds(fromMs_, toMs_)) {
        const float v = p.values[figure];
        if (std::isfinite(v)) points_.push_back({p.wallMs, v, v, v});
    }
}

double HistoryChart::top() const {
    if (historyFigures()[figure_].unit == HistoryUnit::percent) return 100;
    float high = 0;
    for (const Point& p : points_) high = std::max(high, p.high);
    if (high <= 0) return 1;
    // 1, 2 or 5 times a power of ten, so the scale's marks are round.
    const double ten = std::pow(10.0, std::floor(std::log10(double(high))));
    for (const double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * ten >= high) return step * ten;
    }
    return 10 * ten;
}

std::string HistoryChart::timeText(std::int64_t wallMs) const {
    return wallTimeText(wallMs, span_ == HistorySpan::hour ? "%H:%M:%S" : "%Y-%m-%d %H:%M");
}

std::vector<HistoryChart::Column> HistoryChart::columns(std::size_t count) const {
    std::vector<Column> out(count, Column{nan, nan, nan});
    std::vector<double> sums(count, 0);
    std::vector<std::size_t> counts(count, 0);
    const double width = double(toMs_ - fromMs_);
    for (const Point& p : points_) {
        if (p.wallMs < fromMs_ || p.wallMs > toMs_ || count == 0) continue;
        const auto i =
            std::min(count - 1, std::size_t(double(p.wallMs - fromMs_) / width * double(count)));
        Column& c = out[i];
        c.low = counts[i] ? std::min(c.low, double(p.low)) : p.low;
        c.high = counts[i] ? std::max(c.high, double(p.high)) : p.high;
        sums[i] += p.mean;
        ++counts[i];
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (counts[i]) out[i].mean = sums[i] / double(counts[i]);
    }
    return out;
}

std::optional<HistoryChart::Moment> HistoryChart::at(std::int64_t wallMs) const {
    // Points follow the sequence, not the wall clock, so the nearest is looked for in all.
    const Point* nearest = nullptr;
    for (const Point& p : points_) {
        if (!nearest || std::llabs(p.wallMs - wallMs) < std::llabs(nearest->wallMs - wallMs))
            nearest = &p;
    }
    const std::int64_t step = span_ == HistorySpan::hour ? 1000 : minuteMs;
    // A month's column is wider than two minutes: its pointer lands between them.
    const std::int64_t reach = std::max(2 * step, spanMs(span_) / 1000);
    if (!nearest || std::llabs(nearest->wallMs - wallMs) > reach) return std::nullopt;

    const HistoryUnit unit = historyFigures()[figure_].unit;
    Moment m;
    m.wallMs = nearest->wallMs;
    m.text = timeText(m.wallMs) + "  " + historyValueText(unit, nearest->mean);
    if (nearest->low != nearest->high) {
        m.text += " (" + historyValueText(unit, nearest->low) + "\u2013" +
                  historyValueText(unit, nearest->high) + ")";
    }

    const std::int64_t minute = m.wallMs - ((m.wallMs % minuteMs) + minuteMs) % minuteMs;
    const auto held = std::find_if(minutes_.begin(), minutes_.end(),
                                   [&](const auto& s) { return s.first == minute; });
    if (held == minutes_.end()) return m;
    std::optional<HistoryMinute> read = HistoryReader(folder_).minute(held->second);
    if (!read) return m;
    std::vector<HistoryProcess>& processes = read->processes;
    // Memory figures list the largest first; the others the busiest.
    const std::string_view name = historyFigures()[figure_].name;
    if (name == "memory" || name == "swap") {
        std::stable_sort(processes.begin(), processes.end(),
                         [](const auto& a, const auto& b) { return a.rss > b.rss; });
    } else {
        std::stable_sort(processes.begin(), processes.end(),
                         [](const auto& a, const auto& b) { return a.cpu > b.cpu; });
    }
    for (const HistoryProcess& p : processes) {
        m.processes.push_back({visibleText(p.name), visibleText(p.commandLine),
                               formatC("%.0f%%", {p.cpu}),
                               formatC("%.0f MB", {std::round(double(p.rss) / double(1 << 20))})});
    }
    return m;
}

}  // namespace quillo
