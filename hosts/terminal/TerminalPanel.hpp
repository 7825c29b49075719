#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillo/settings/Rows.hpp"
#include "quillo/ui/ProgressBar.hpp"
#include "quillo/widget/ExtraRows.hpp"
#include "quillo/widget/OutletViews.hpp"
#include "quillo/widget/ProcessSections.hpp"
#include "quillo/widget/TodayViewController.hpp"
#include "terminal/Ansi.hpp"

namespace quillo {

// How a frame may be drawn: which colours, and whether the character set has the
// block elements and arrows (a UTF-8 locale) or only ASCII.
struct TerminalStyle {
    ColorMode color = ColorMode::none;
    bool unicode = true;
};

// The panel's fifteen outlets laid out in rows of a terminal. Any change to a label or
// a bar calls changed, so the host can draw once after the tick's blocks have run.
class TerminalPanel final : public ViewTree {
  public:
    struct Titles {
        std::string cpu = "CPU", memory = "Memory", disk = "Disk", network = "Network",
                    battery = "Battery", cores = "Cores", swap = "Swap", pressure = "Pressure",
                    diskIo = "Disk I/O", fileSystems = "File systems", temperatures = "Temperature",
                    fans = "Fans", interfaces = "Interfaces", tooNarrow = "Quillo needs 20 columns",
                    moreLines = "+ %d more lines";
    };

    TerminalPanel(Titles titles, std::function<void()> changed);

    std::shared_ptr<TextField> textField(std::string_view name) const override;
    std::shared_ptr<ProgressBar> progressBar(std::string_view name) const override;

    // The panel as lines at most width columns wide. The titles take the width of the
    // longest one and a space; as the width shrinks, the bars shrink first and then go,
    // and a figure is never cut: a line too long for the width continues on the next.
    // With a height, at most that many lines: the process lists shrink first, then rows
    // of several lines fold into one (their title and figure, marked "+" in the margin)
    // from the bottom up, and rows that still find no room are counted on the last line.
    // Below minimumWidth columns the panel says it needs more.
    std::vector<std::string> lines(int width, const TerminalStyle& style, int height = 0) const;
    static constexpr int minimumWidth = 20;

    // Lists of the busiest processes, shown under the CPU and memory rows while open.
    void setProcesses(const ProcessSections* processes) { processes_ = processes; }
    // The rows to draw, in order, and the figures of those the compact panel lacks.
    void setRows(std::vector<PanelRow> rows, const ExtraRows* extra) {
        rows_ = std::move(rows);
        extra_ = extra;
    }

    // Bytes that turn the previous frame into this one on an alternate screen: only
    // the lines that differ are written, each cleared to its end.
    static std::string update(const std::vector<std::string>& previous,
                              const std::vector<std::string>& next);

  private:
    std::string text(std::string_view name) const;

    Titles titles_;
    OutletViews views_;
    const ProcessSections* processes_ = nullptr;
    std::vector<PanelRow> rows_ = defaultPanelRows();
    const ExtraRows* extra_ = nullptr;
};

// Columns a text takes on a terminal (wide characters take two), escapes excluded.
int displayWidth(std::string_view text);
std::string spaces(int n);
// The text filled with spaces to width columns, on its right or its left.
std::string padRight(std::string_view text, int width);
std::string padLeft(std::string_view text, int width);
// The text cut to at most width columns, whole characters only.
std::string cutToWidth(std::string_view text, int width);
// The text wrapped into lines of at most width columns, each after indent columns of
// spaces: at spaces where it can, anywhere where a word is longer than a line.
std::vector<std::string> wrapText(std::string_view text, int indent, int width);

}  // namespace quillo
