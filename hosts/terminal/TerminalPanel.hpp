#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "terminal/Ansi.hpp"
#include "ui/ProgressBar.hpp"
#include "widget/OutletViews.hpp"
#include "widget/TodayViewController.hpp"

namespace quillo {

// The panel's fifteen outlets laid out in rows of a terminal. Any change to a label or
// a bar calls changed, so the host can draw once after the tick's blocks have run.
class TerminalPanel final : public ViewTree {
  public:
    struct Titles {
        std::string cpu = "CPU", memory = "Memory", disk = "Disk", network = "Network",
                    battery = "Battery";
    };

    TerminalPanel(Titles titles, std::function<void()> changed);

    std::shared_ptr<TextField> textField(std::string_view name) const override;
    std::shared_ptr<ProgressBar> progressBar(std::string_view name) const override;

    // The panel as lines for a terminal of the given width, each at most that wide.
    std::vector<std::string> lines(int width, ColorMode mode) const;

    // Bytes that turn the previous frame into this one on an alternate screen: only
    // the lines that differ are written, each cleared to its end.
    static std::string update(const std::vector<std::string>& previous,
                              const std::vector<std::string>& next);

  private:
    std::string text(std::string_view name) const;

    Titles titles_;
    OutletViews views_;
};

// Columns a text takes: one per code point, escapes excluded. Good enough for the
// panel's own texts, which hold no wide characters.
int displayWidth(std::string_view text);
// The text cut to at most width columns, never inside a UTF-8 sequence.
std::string clipToWidth(std::string_view text, int width);

}  // namespace quillo
