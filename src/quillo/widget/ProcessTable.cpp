#include "quillo/widget/ProcessTable.hpp"

#include <algorithm>

namespace quillo {

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool containsFolded(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

bool lessFolded(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
}

}  // namespace

void ProcessTable::setOpen(bool open) {
    if (open_ == open) return;
    open_ = open;
    if (open) {
        refresh();
        return;
    }
    // Opened again later, the CPU must not be measured over the time it was closed.
    reader_.reset();
    all_.clear();
    rows_.clear();
    commandLines_.clear();
    first_ = selected_ = 0;
}

void ProcessTable::refresh() {
    if (!open_) return;
    const std::optional<std::int64_t> keep = selectedPid();
    all_ = reader_.sample();
    // Only live processes keep their command line; a reused pid reads its own.
    std::unordered_map<std::int64_t, Known> live;
    live.reserve(commandLines_.size());
    for (const ProcessUsage& p : all_) {
        const auto known = commandLines_.find(p.pid);
        if (known != commandLines_.end() && known->second.startTime == p.startTime)
            live.emplace(p.pid, std::move(known->second));
    }
    commandLines_ = std::move(live);
    arrange(keep, true);
}

const std::string& ProcessTable::commandLine(const ProcessUsage& p, bool fresh) {
    auto known = commandLines_.find(p.pid);
    if (known == commandLines_.end() || known->second.startTime != p.startTime || fresh) {
        Known read{p.startTime, commandLineOf_ ? commandLineOf_(p.pid).value_or("") : ""};
        known = commandLines_.insert_or_assign(p.pid, std::move(read)).first;
    }
    return known->second.commandLine;
}

std::optional<std::int64_t> ProcessTable::selectedPid() const {
    if (rows_.empty()) return std::nullopt;
    return rows_[selected_].usage.pid;
}

void ProcessTable::setSort(Sort sort) {
    sort_ = sort;
    arrange(selectedPid());
}

void ProcessTable::setFilter(std::string filter) {
    filter_ = std::move(filter);
    arrange(selectedPid());
}

void ProcessTable::arrange(std::optional<std::int64_t> keep, bool fresh) {
    rows_.clear();
    for (const ProcessUsage& p : all_) {
        const std::string* line = nullptr;
        if (!filter_.empty()) {
            line = &commandLine(p, false);
            if (!containsFolded(p.command, filter_) && !containsFolded(*line, filter_)) continue;
        }
        rows_.push_back({p, line});
    }
    const auto before = [this](const Row& x, const Row& y) {
        const ProcessUsage &a = x.usage, &b = y.usage;
        switch (sort_) {
            case Sort::cpu:
                if (a.cpu != b.cpu) return a.cpu > b.cpu;
                [[fallthrough]];
            case Sort::memory:
                if (a.rss != b.rss) return a.rss > b.rss;
                break;
            case Sort::name:
                if (lessFolded(a.command, b.command)) return true;
                if (lessFolded(b.command, a.command)) return false;
                break;
            case Sort::pid:
                break;
        }
        return a.pid < b.pid;
    };
    std::sort(rows_.begin(), rows_.end(), before);
    selected_ = std::min(selected_, rows_.empty() ? 0 : rows_.size() - 1);
    if (keep) {
        const auto at = std::find_if(rows_.begin(), rows_.end(),
                                     [&](const Row& r) { return r.usage.pid == *keep; });
        if (at != rows_.end()) selected_ = std::size_t(at - rows_.begin());
    }
    scroll(fresh);
}

void ProcessTable::setHeight(std::size_t lines) {
    height_ = std::max<std::size_t>(lines, 1);
    scroll();
}

void ProcessTable::move(std::ptrdiff_t lines) {
    if (rows_.empty()) return;
    const std::ptrdiff_t to = std::ptrdiff_t(selected_) + lines;
    selected_ = std::size_t(std::clamp<std::ptrdiff_t>(to, 0, std::ptrdiff_t(rows_.size()) - 1));
    scroll();
}

void ProcessTable::moveToEnd(bool last) {
    selected_ = last && !rows_.empty() ? rows_.size() - 1 : 0;
    scroll();
}

// Brings the highlight into view, and reads the command lines that came into it (all of
// those in view when fresh).
void ProcessTable::scroll(bool fresh) {
    if (selected_ < first_) first_ = selected_;
    if (selected_ >= first_ + height_) first_ = selected_ - height_ + 1;
    first_ = std::min(first_, rows_.size() > height_ ? rows_.size() - height_ : 0);
    for (std::size_t i = first_; i < std::min(rows_.size(), first_ + height_); ++i)
        if (fresh || !rows_[i].commandLine)
            rows_[i].commandLine = &commandLine(rows_[i].usage, fresh);
}

}  // namespace quillo
