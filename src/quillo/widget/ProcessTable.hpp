#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "quillo/metrics/ProcessUsage.hpp"

namespace quillo {

// Every process as a table to work in: sorted, filtered by name or command line, with
// one highlighted line that stays on its process while the table refreshes and resorts.
// Nothing is read while it is closed. Command lines are read for the lines in view at
// each refresh (a process may retitle itself) and, while a filter is set, once for each
// other process, so a table of thousands of processes reads a few dozen of them.
class ProcessTable {
  public:
    enum class Sort { cpu, memory, pid, name };
    using CommandLineOf = std::function<std::optional<std::string>(std::int64_t pid)>;

    struct Row {
        ProcessUsage usage;
        // Its arguments apart by spaces; empty for a kernel thread or where unread.
        const std::string* commandLine = nullptr;
    };

    explicit ProcessTable(CommandLineOf commandLineOf) : commandLineOf_(std::move(commandLineOf)) {}

    bool isOpen() const { return open_; }
    // Opening reads at once: memory shows now, CPU from the next refresh.
    void setOpen(bool open);
    // Reads the processes again when open.
    void refresh();

    Sort sort() const { return sort_; }
    void setSort(Sort sort);
    // Kept where a substring of the name or the command line, ASCII letters in either case.
    const std::string& filter() const { return filter_; }
    void setFilter(std::string filter);

    // The lines the table has room for, so that the highlight stays in view.
    void setHeight(std::size_t lines);
    const std::vector<Row>& rows() const { return rows_; }
    std::size_t first() const { return first_; }
    std::size_t selected() const { return selected_; }
    const Row* selectedRow() const { return rows_.empty() ? nullptr : &rows_[selected_]; }
    // Moves the highlight by lines, clamped to the table's ends.
    void move(std::ptrdiff_t lines);
    void moveToEnd(bool last);

  private:
    struct Known {
        std::uint64_t startTime;
        std::string commandLine;
    };
    const std::string& commandLine(const ProcessUsage& p, bool fresh);
    std::optional<std::int64_t> selectedPid() const;
    void arrange(std::optional<std::int64_t> keep, bool fresh = false);
    void scroll(bool fresh = false);

    CommandLineOf commandLineOf_;
    ProcessUsageReader reader_;
    std::vector<ProcessUsage> all_;
    std::unordered_map<std::int64_t, Known> commandLines_;
    std::vector<Row> rows_;
    Sort sort_ = Sort::cpu;
    std::string filter_;
    std::size_t height_ = 1, first_ = 0, selected_ = 0;
    bool open_ = false;
};

}  // namespace quillo
