#include "terminal/TerminalPanel.hpp"

#include <algorithm>
#include <cctype>

#include "terminal/CellCanvas.hpp"
#include "widget/Format.hpp"

namespace quillo {

namespace {

using Notify = std::shared_ptr<const std::function<void()>>;

class ObservedTextField final : public TextField {
  public:
    explicit ObservedTextField(Notify changed) : changed_(std::move(changed)) {}
    void setStringValue(std::string text) override {
        text_ = std::move(text);
        if (*changed_) (*changed_)();
    }
    std::string stringValue() const override { return text_; }

  private:
    Notify changed_;
    std::string text_;
};

// Skips an escape sequence starting at i (ESC, parameters, a final letter).
std::size_t escapeEnd(std::string_view text, std::size_t i) {
    while (i + 1 < text.size() && !std::isalpha(static_cast<unsigned char>(text[i + 1]))) ++i;
    return std::min(i + 1, text.size() - 1);
}

constexpr int titleWidth = 9;
constexpr int valueWidth = 7;

std::string pad(std::string_view text, int width) {
    std::string out(text);
    const int w = displayWidth(text);
    if (w < width) out.append(std::size_t(width - w), ' ');
    return out;
}

std::string padLeft(std::string_view text, int width) {
    const int w = displayWidth(text);
    return std::string(std::size_t(std::max(0, width - w)), ' ') + std::string(text);
}

}  // namespace

int displayWidth(std::string_view text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0x1b) {
            i = escapeEnd(text, i);
            continue;
        }
        if ((c & 0xC0) != 0x80) ++width;
    }
    return width;
}

std::string clipToWidth(std::string_view text, int width) {
    std::string out;
    int columns = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0x1b) {
            const std::size_t end = escapeEnd(text, i);
            out.append(text.substr(i, end - i + 1));
            i = end;
            continue;
        }
        if ((c & 0xC0) != 0x80) {
            if (columns == width) break;
            ++columns;
        }
        out += char(c);
    }
    return out;
}

namespace {

OutletViews observedViews(const std::function<void()>& changed) {
    const auto notify = std::make_shared<const std::function<void()>>(changed);
    return OutletViews(
        [notify](std::string_view) {
            auto bar = std::make_shared<ProgressBar>();
            prepareForCells(*bar);
            bar->setNeedsDisplayHandler([notify] {
                if (*notify) (*notify)();
            });
            return bar;
        },
        [notify](std::string_view) { return std::make_shared<ObservedTextField>(notify); });
}

}  // namespace

TerminalPanel::TerminalPanel(Titles titles, std::function<void()> changed)
    : titles_(std::move(titles)), views_(observedViews(changed)) {
    views_.textField("batteryTitleLabal")->setStringValue(titles_.battery);
}

std::shared_ptr<TextField> TerminalPanel::textField(std::string_view name) const {
    return views_.textField(name);
}

std::shared_ptr<ProgressBar> TerminalPanel::progressBar(std::string_view name) const {
    return views_.progressBar(name);
}

std::string TerminalPanel::text(std::string_view name) const {
    // Whatever a label holds came from the machine in the end; it is shown escaped.
    return visibleText(views_.text(name));
}

std::vector<std::string> TerminalPanel::lines(int width, ColorMode mode) const {
    width = std::max(width, 20);
    const int barCells = std::clamp(width - titleWidth - valueWidth - 3, 4, 60);
    const auto barRow = [&](const std::string& title, std::string_view bar,
                            std::string_view value) {
        return " " + pad(title, titleWidth) + renderBar(*views_.progressBar(bar), barCells, mode) +
               " " + padLeft(text(value), valueWidth);
    };
    const std::string indent(titleWidth + 1, ' ');
    std::vector<std::string> rows = {
        barRow(titles_.cpu, "cpuProgressBar", "cpuPercentLabel"),
        barRow(titles_.memory, "memoryProgressBar", "memoryPercentLabel"),
        barRow(titles_.disk, "hddProgressBar", "hddPercentLabel"),
        " " + pad(titles_.network, titleWidth) + "\u2193 " + pad(text("downloadLabel"), 12) +
            "\u2191 " + text("uploadLabel"),
        " " + text("loadLabel"),
        " " + text("uptimeLabel"),
        barRow(text("batteryTitleLabal"), "batteryProgressBar", "batteryPercentLabel"),
        indent + text("batteryTimeLabel"),
        indent + text("batteryInfoLabel"),
    };
    for (std::string& row : rows) {
        if (displayWidth(row) > width)
            row = clipToWidth(row, width) + (mode == ColorMode::none ? "" : resetAttributes);
    }
    return rows;
}

std::string TerminalPanel::update(const std::vector<std::string>& previous,
                                  const std::vector<std::string>& next) {
    std::string out;
    for (std::size_t row = 0; row < next.size(); ++row) {
        if (row < previous.size() && previous[row] == next[row]) continue;
        out += "\x1b[" + std::to_string(row + 1) + ";1H" + next[row] + "\x1b[K";
    }
    for (std::size_t row = next.size(); row < previous.size(); ++row) {
        out += "\x1b[" + std::to_string(row + 1) + ";1H\x1b[K";
    }
    return out;
}

}  // namespace quillo
