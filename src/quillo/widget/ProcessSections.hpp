#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quillo/metrics/ProcessUsage.hpp"

namespace quillo {

// The lists of the busiest processes that a panel opens under its CPU and memory rows.
// Processes are read only while a list is open, so a panel with both closed costs what
// it did without them. The CPU list needs two samples: it fills from the refresh after
// the one that opened it.
class ProcessSections {
  public:
    static constexpr std::size_t rows = 5;

    struct Line {
        std::string name;    // the short name, safe to show (controls escaped)
        std::string figure;  // "99%" of one core, or "512 MB" resident
        friend bool operator==(const Line&, const Line&) = default;
    };

    bool isOpen(UsageOrder order) const { return open_[index(order)]; }
    bool anyOpen() const { return open_[0] || open_[1]; }
    // Opening reads the processes at once, so that the memory list shows now and the CPU
    // list has its first sample.
    void setOpen(UsageOrder order, bool open);
    void toggle(UsageOrder order) { setOpen(order, !isOpen(order)); }
    void closeAll();

    // Lists the busiest cgroups (systemd units, containers) instead of processes, their
    // processes' CPU and memory summed; unitOf gives a process's cgroup. Without a
    // unitOf, grouping is not offered.
    void setUnitsOf(std::function<std::optional<std::string>(std::int64_t)> unitOf) {
        unitOf_ = std::move(unitOf);
    }
    bool byUnit() const { return byUnit_; }
    void setByUnit(bool byUnit);

    // Reads the processes again when a list is open; true when a list's lines changed.
    bool refresh();

    const std::vector<Line>& lines(UsageOrder order) const { return lines_[index(order)]; }

  private:
    static std::size_t index(UsageOrder order) { return order == UsageOrder::cpu ? 0 : 1; }

    ProcessUsageReader reader_;
    std::function<std::optional<std::string>(std::int64_t)> unitOf_;
    bool byUnit_ = false;
    std::array<bool, 2> open_{};
    std::array<std::vector<Line>, 2> lines_;
};

}  // namespace quillo
