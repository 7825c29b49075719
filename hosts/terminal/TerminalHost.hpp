#pragma once

#include <iconv.h>

#include <string>
#include <vector>

#include "quillo/widget/HostInterfaces.hpp"
#include "quillo/widget/ProcessSections.hpp"
#include "terminal/PollLoop.hpp"
#include "terminal/ProcessView.hpp"
#include "terminal/TerminalPanel.hpp"

namespace quillo {

// The terminal's width in columns: what the terminal says, else $COLUMNS, else 80.
int terminalWidth(int fd);
// The lines of the terminal on fd; 0 (no limit) where it cannot say.
int terminalHeight(int fd);

// The frame's UTF-8 in the terminal's own character set, where that is another one.
class Charset {
  public:
    Charset();
    ~Charset();
    Charset(const Charset&) = delete;
    Charset& operator=(const Charset&) = delete;
    bool utf8() const { return utf8_; }
    std::string operator()(const std::string& text) const;

  private:
    bool utf8_ = true;
    iconv_t convert_ = iconv_t(-1);
};

// The panel on a terminal: drawn as the changes of the screen where there is one,
// printed as whole frames where output is piped, with the lists of the busiest
// processes that p opens.
class TerminalHost final : public FigureObserver {
  public:
    TerminalHost(PollLoop& loop, TerminalPanel& panel, const TerminalStyle& style,
                 const Charset& charset, bool screen, long frames, ExtraRows& extra,
                 const Configuration& config, ProcessView::Texts tableTexts = {});

    // A change to the panel: drawn once, after the tick's blocks.
    void changed();
    // p shows or hides the busiest processes by CPU and by memory.
    void toggleProcesses();
    // The lists by cgroup (systemd unit, container) or by process.
    void toggleUnits();
    // A key for the process table (t opens it); false when it is the panel's.
    bool key(const Key& key);
    void refreshed() override;
    void cpu(double percent) override { extra_.addFigure(PanelRow::cpu, percent); }
    void memory(double percent) override { extra_.addFigure(PanelRow::memory, percent); }
    void disk(double percent) override { extra_.addFigure(PanelRow::disk, percent); }
    void battery(std::optional<double> charge, bool) override {
        if (charge) extra_.addFigure(PanelRow::battery, *charge);
    }
    void batteryPower(std::optional<double> watts, std::optional<bool> adapter) override {
        if (extra_.showBatteryPower(watts, adapter)) changed();
    }
    void redrawWhole();

  private:
    void draw();
    // The panel, and the process table under it while open.
    std::vector<std::string> frame(int width, int height);
    // Without a screen to redraw, each refresh is a frame of plain lines.
    void printFrame();

    PollLoop& loop_;
    TerminalPanel& panel_;
    TerminalStyle style_;
    const Charset& charset_;
    bool screen_;
    long framesLeft_;
    bool renderQueued_ = false;
    bool wipe_ = false;
    bool printed_ = false;
    std::vector<std::string> shown_;
    ProcessSections processes_;
    ProcessTable table_;
    ProcessView view_;
    ExtraRows& extra_;
    const Configuration& config_;
    std::vector<PanelRow> rows_ = defaultPanelRows();
};

}  // namespace quillo
