#include "quillo/widget/ProcessSections.hpp"

#include <cmath>

#include "quillo/widget/Format.hpp"

namespace quillo {

void ProcessSections::setOpen(UsageOrder order, bool open) {
    if (open_[index(order)] == open) return;
    open_[index(order)] = open;
    lines_[index(order)].clear();
    if (!anyOpen()) {
        // A list opened later must not measure the CPU over the time it was closed.
        reader_.reset();
        return;
    }
    if (open) refresh();
}

void ProcessSections::closeAll() {
    setOpen(UsageOrder::cpu, false);
    setOpen(UsageOrder::memory, false);
}

void ProcessSections::setByUnit(bool byUnit) {
    byUnit_ = byUnit && unitOf_;
    // Shown at once, as opening a list is; the CPU figures keep their first sample.
    if (anyOpen()) refresh();
}

bool ProcessSections::refresh() {
    if (!anyOpen()) return false;
    const bool measured = reader_.primed();
    const std::vector<ProcessUsage> all = reader_.sample();
    bool changed = false;
    for (const UsageOrder order : {UsageOrder::cpu, UsageOrder::memory}) {
        if (!isOpen(order)) continue;
        std::vector<Line> lines;
        const auto figure = [order](double cpu, std::uint64_t rss) {
            return order == UsageOrder::cpu
                       ? formatC("%.0f%%", {cpu})
                       : formatC("%.0f MB", {std::round(double(rss) / double(1 << 20))});
        };
        if ((order == UsageOrder::memory || measured) && byUnit_ && unitOf_) {
            for (const UnitUsage& u : busiestUnits(all, unitOf_, order, rows))
                lines.push_back({visibleText(u.unit), figure(u.cpu, u.rss)});
        } else if (order == UsageOrder::memory || measured) {
            for (const ProcessUsage& p : busiest(all, order, rows))
                lines.push_back({visibleText(p.command), figure(p.cpu, p.rss)});
        }
        changed = changed || lines != lines_[index(order)];
        lines_[index(order)] = std::move(lines);
    }
    return changed;
}

}  // namespace quillo
