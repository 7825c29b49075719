#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quillo/metrics/History.hpp"
#include "quillo/metrics/Sample.hpp"
#include "quillo/settings/Configuration.hpp"
#include "quillo/settings/Rows.hpp"
#include "quillo/ui/ProgressBar.hpp"

namespace quillo {

// The last minutes of a bar's figure: ten cells of thirty seconds, each the mean of the
// points that fell in it. Constant memory, whatever the refresh.
class Sparkline {
  public:
    static constexpr int cells = 10;
    static constexpr std::int64_t cellMs = 30'000;
    void add(std::int64_t wallMs, double percent);
    // Oldest first, NaN for a cell no point fell in.
    std::array<double, cells> means(std::int64_t nowMs) const;
    // In eighths of a cell (" ▁▂▃▄▅▆▇█" from 0 to 100 %), or ASCII ("_.-=+*#@"); blank
    // where a cell has no point, and empty when none has.
    std::string text(std::int64_t nowMs, bool unicode) const;

  private:
    struct Cell {
        std::int64_t index = INT64_MIN;
        double sum = 0;
        int count = 0;
    };
    std::array<Cell, cells> cells_{};
};

// The place in historyFigures() of a row with a sparkline: cpu, memory, disk, swap, battery.
std::optional<std::size_t> historyFigureOf(PanelRow row);

// A row the compact panel does not have: a bar and its figure, or only a figure.
struct ExtraRow {
    std::string title;  // where the row names itself: a file system's mount point
    std::shared_ptr<ProgressBar> bar;
    std::string text;        // "37%", or "not available" where the machine lacks it
    bool available = false;  // the bar means something
};

// The rows beyond the compact panel's, filled from one typed sample per refresh that
// reads only what the chosen rows need: a panel showing only the compact rows reads
// nothing more than it did. Bars take the level colours of the CPU and memory rows.
class ExtraRows {
  public:
    // Each new bar is handed to prepare first, as a host sets its bars up.
    explicit ExtraRows(LinuxPlatform& platform, std::function<void(ProgressBar&)> prepare = {},
                       bool record = true);

    // Reads the chosen rows' figures, and records a point into the history while the
    // panel holds it; whether any row changed.
    bool refresh(const std::vector<PanelRow>& rows, const Configuration& config);

    const ExtraRow& swap() const { return swap_; }
    // Text rows: the share of the last ten seconds tasks stalled on the CPU, memory and
    // I/O ("CPU 0.2%  Memory 0.0%  I/O 1.5%"), and the whole disks' read and write rates
    // ("read 1.2 MB/s  write 0 B/s"), empty until a second sample gives a rate.
    const ExtraRow& pressure() const { return pressure_; }
    const ExtraRow& diskIo() const { return diskIo_; }
    // The hottest CPU sensor first ("CPU 57 °C"), then each other chip's hottest by the
    // chip's name ("nvme 39 °C"); each fan by its label ("fan1 1236 rpm").
    const ExtraRow& temperatures() const { return temperatures_; }
    const ExtraRow& fans() const { return fans_; }
    // One per online logical CPU, in their order; empty where stat has no per-CPU lines.
    const std::vector<ExtraRow>& cores() const { return cores_; }
    // The file systems df lists but those held in memory (tmpfs, devtmpfs, ramfs) and
    // read-only images (squashfs), which are full or empty by design, or those the
    // FileSystems setting names, in its order: each titled by its mount point, its figure
    // df's Use%, marked "(stale)" while statvfs does not answer, "not available" for a
    // chosen one not mounted.
    const std::vector<ExtraRow>& fileSystems() const { return fileSystems_; }
    // Every interface but loopback, or those the Interfaces setting names, titled by its
    // name, its figure the download and upload rates ("↓ 1.2 MB/s  ↑ 12 KB/s"), then "All"
    // with their sums where there are two or more; empty figures until a second sample
    // gives rates, "not available" for a chosen one the machine lacks.
    const std::vector<ExtraRow>& interfaces() const { return interfaces_; }

    // The battery card's power line: the draw and the adapter ("8.4 W, on battery",
    // "12.0 W, adapter connected"), each part where known; empty without a battery. Fed
    // by the host from the controller's battery read, so nothing is read twice.
    bool showBatteryPower(std::optional<double> watts, std::optional<bool> adapter);
    const ExtraRow& batteryPower() const { return batteryPower_; }

    // A bar's figure, for its sparkline: cpu, memory, disk and battery as the controller
    // gives them, swap from this refresh. The sparklines start from the history, so they
    // survive a restart.
    void addFigure(PanelRow row, double percent);
    std::string sparkline(PanelRow row, bool unicode) const;
    std::array<double, Sparkline::cells> sparklineMeans(PanelRow row) const;

    // Where the figures are a cgroup's, the limit they are measured against, for the CPU
    // and memory rows ("limit 0.5 CPU", "limit 512 MiB"); empty otherwise.
    std::string limitMark(PanelRow row) const;

    LinuxPlatform& platform() const { return platform_; }

    // The text of a row the machine has no figure for.
    static constexpr const char* notAvailable = "not available";

  private:
    ExtraRow made() const;

    LinuxPlatform& platform_;
    Sampler sampler_;
    std::optional<PanelRecording> recording_;
    std::function<void(ProgressBar&)> prepare_;
    ExtraRow swap_, pressure_, diskIo_, temperatures_, fans_, batteryPower_;
    std::vector<ExtraRow> cores_, fileSystems_, interfaces_;
    std::vector<std::string> shown_;       // every row's text at the last refresh
    std::array<Sparkline, 5> sparklines_;  // cpu, memory, disk, swap, battery
};

}  // namespace quillo
