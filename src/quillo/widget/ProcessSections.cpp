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

bool ProcessSections::refresh() {
    if (!anyOpen()) return false;
    const bool measured = reader_.primed();
    const std::vector<ProcessUsage> all = reader_.sample();
    bool changed = false;
    for (const UsageOrder order : {UsageOrder::cpu, UsageOrder::memory}) {
        if (!isOpen(order)) continue;
        std::vector<Line> lines;
        if (order == UsageOrder::memory || measured) {
            for (const ProcessUsage& p : busiest(all, order, rows)) {
                const std::string figure =
                    order == UsageOrder::cpu
                        ? formatC("%.0f%%", {p.cpu})
                        : formatC("%.0f MB", {std::round(double(p.rss) / double(1 << 20))});
                lines.push_back({visibleText(p.command), figure});
            }
        }
        changed = changed || lines != lines_[index(order)];
        lines_[index(order)] = std::move(lines);
    }
    return changed;
}

}  // namespace quillo
