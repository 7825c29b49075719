#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quillo/metrics/History.hpp"

namespace quillo {

enum class HistorySpan { hour, day, month };

// What a history window shows of one figure over a span that ends now: the last hour
// from the one-second ring, the last day and month from the minutes. Read once; a
// window makes a new one to move on.
class HistoryChart {
  public:
    // A column of equal time: the lowest, mean and highest value in it, NaN without a point.
    struct Column {
        double low, mean, high;
    };
    struct Process {
        std::string name, commandLine;  // safe to show (controls escaped)
        std::string cpu, memory;        // "45%" of one core, "512 MB" resident
    };
    // What was so at a moment: "14:03:12  52%", "2026-12-07 14:03  52% (12%–90%)", and
    // the busiest processes of its minute, the figure's own order first.
    struct Moment {
        std::int64_t wallMs = 0;
        std::string text;
        std::vector<Process> processes;
    };

    HistoryChart(const std::filesystem::path& folder, std::size_t figure, HistorySpan span,
                 std::int64_t nowMs);

    std::int64_t fromMs() const { return fromMs_; }
    std::int64_t toMs() const { return toMs_; }
    bool empty() const { return points_.empty(); }
    HistoryUnit unit() const { return historyFigures()[figure_].unit; }
    // The top of the scale: 100 for a share, else the highest value rounded up.
    double top() const;
    std::vector<Column> columns(std::size_t count) const;
    // A moment in local time, as fine as the span: "14:03:12" in the hour, else
    // "2026-12-07 14:03".
    std::string timeText(std::int64_t wallMs) const;
    // The point nearest wallMs, where one was taken within two of the span's steps.
    std::optional<Moment> at(std::int64_t wallMs) const;

  private:
    struct Point {
        std::int64_t wallMs;
        float low, mean, high;
    };
    std::filesystem::path folder_;
    std::size_t figure_;
    HistorySpan span_;
    std::int64_t fromMs_, toMs_;
    std::vector<Point> points_;
    // Each minute's start and sequence number, to read its processes when asked.
    std::vector<std::pair<std::int64_t, std::uint32_t>> minutes_;
};

// A figure's value as the history window writes it: "52%", "1.25", "1.2 MB/s", "57 °C".
std::string historyValueText(HistoryUnit unit, double value);

}  // namespace quillo
