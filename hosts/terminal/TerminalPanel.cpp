#include "terminal/TerminalPanel.hpp"

#include <algorithm>
#include <cctype>
#include <cwchar>

#include "quillo/metrics/Utf8.hpp"
#include "quillo/widget/Format.hpp"
#include "quillo/widget/Levels.hpp"
#include "terminal/CellCanvas.hpp"

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

// Skips an escape sequence starting at i (ESC, parameters, a final letter).
std::size_t escapeEnd(std::string_view text, std::size_t i) {
    while (i + 1 < text.size() && !std::isalpha(static_cast<unsigned char>(text[i + 1]))) ++i;
    return std::min(i + 1, text.size() - 1);
}

// A row's lines: its own from begin, its process list's from listBegin to end; and the
// row in one line, for when the screen is short.
struct Block {
    std::size_t begin, listBegin, end;
    std::string folded;
};

// The lines cut to the height: the longest process list loses its last line until none
// is left, then rows fold into one line from the bottom up, and what still finds no room
// is counted on the last line.
std::vector<std::string> fitted(const std::vector<std::string>& lines,
                                const std::vector<Block>& blocks, int height, int width,
                                const std::string& moreLines) {
    std::vector<std::size_t> shown(blocks.size()), list(blocks.size());
    std::vector<bool> folded(blocks.size());
    std::size_t total = lines.size();
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        shown[i] = blocks[i].listBegin - blocks[i].begin;
        list[i] = blocks[i].end - blocks[i].listBegin;
    }
    while (total > std::size_t(height)) {
        const auto longest = std::max_element(list.begin(), list.end());
        if (longest == list.end() || *longest == 0) break;
        --*longest;
        --total;
    }
    for (std::size_t i = blocks.size(); i-- > 0 && total > std::size_t(height);) {
        if (shown[i] <= 1) continue;
        total -= shown[i] - 1;
        shown[i] = 1;
        folded[i] = true;
    }
    std::vector<std::string> out;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (folded[i]) {
            out.push_back(blocks[i].folded);
        } else {
            for (std::size_t l = 0; l < shown[i]; ++l) out.push_back(lines[blocks[i].begin + l]);
        }
        for (std::size_t l = 0; l < list[i]; ++l) out.push_back(lines[blocks[i].listBegin + l]);
    }
    if (out.size() > std::size_t(height)) {
        const std::size_t hidden = out.size() - std::size_t(height) + 1;
        out.resize(std::size_t(height) - 1);
        out.push_back(cutToWidth(formatC(moreLines.c_str(), {std::int64_t(hidden)}), width));
    }
    return out;
}

// The arrows of a rate where the character set has none.
std::string asciiArrows(std::string text) {
    for (const auto& [arrow, ascii] : {std::pair{"\u2193", "v"}, {"\u2191", "^"}}) {
        for (std::size_t at = text.find(arrow); at != std::string::npos; at = text.find(arrow))
            text.replace(at, std::string_view(arrow).size(), ascii);
    }
    return text;
}

constexpr int minimumBar = 4;
constexpr int maximumBar = 60;

}  // namespace

std::string spaces(int n) {
    return std::string(std::size_t(std::max(0, n)), ' ');
}

std::string padRight(std::string_view text, int width) {
    return std::string(text) + spaces(width - displayWidth(text));
}

std::string padLeft(std::string_view text, int width) {
    return spaces(width - displayWidth(text)) + std::string(text);
}

std::string cutToWidth(std::string_view text, int width) {
    std::string out;
    int used = 0;
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint c = codePointAt(text, i);
        const std::size_t length = c.length == 0 ? 1 : c.length;
        const int w = displayWidth(text.substr(i, length));
        if (used + w > width) break;
        out.append(text.substr(i, length));
        used += w;
        i += length;
    }
    return out;
}

int displayWidth(std::string_view text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\x1b') {
            i = escapeEnd(text, i) + 1;
            continue;
        }
        const CodePoint c = codePointAt(text, i);
        const int w = c.length == 0 ? 1 : ::wcwidth(wchar_t(c.value));
        width += w < 0 ? 1 : w;
        i += c.length == 0 ? 1 : c.length;
    }
    return width;
}

std::vector<std::string> wrapText(std::string_view text, int indent, int width) {
    indent = std::min(indent, std::max(0, width / 4));
    const int room = std::max(1, width - indent);
    std::vector<std::string> lines;
    std::string line;
    int used = 0;
    const auto flush = [&] {
        lines.push_back(spaces(indent) + line);
        line.clear();
        used = 0;
    };
    std::size_t i = 0;
    while (i < text.size()) {
        // The next word and the space before it.
        std::size_t end = text.find(' ', i);
        if (end == std::string_view::npos) end = text.size();
        std::string_view word = text.substr(i, end - i);
        const int separator = used > 0 ? 1 : 0;
        const int w = displayWidth(word);
        if (used + separator + w <= room) {
            if (separator) line += ' ';
            line += word;
            used += separator + w;
        } else if (w <= room) {
            flush();
            line = word;
            used = w;
        } else {
            // A word longer than a line is split where the line ends.
            if (used > 0) flush();
            for (std::size_t k = 0; k < word.size();) {
                const CodePoint c = codePointAt(word, k);
                const std::size_t length = c.length == 0 ? 1 : c.length;
                const int cw = displayWidth(word.substr(k, length));
                if (used + cw > room) flush();
                line.append(word.substr(k, length));
                used += cw;
                k += length;
            }
        }
        i = end + 1;
    }
    if (used > 0 || lines.empty()) flush();
    return lines;
}

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

std::vector<std::string> TerminalPanel::lines(int width, const TerminalStyle& style,
                                              int height) const {
    if (width < minimumWidth) return wrapText(titles_.tooNarrow, 0, std::max(width, 1));
    const std::string battery = text("batteryTitleLabal");
    const auto title = [&](PanelRow row) -> const std::string* {
        switch (row) {
            case PanelRow::cpu:
                return &titles_.cpu;
            case PanelRow::cores:
                return &titles_.cores;
            case PanelRow::memory:
                return &titles_.memory;
            case PanelRow::swap:
                return &titles_.swap;
            case PanelRow::pressure:
                return &titles_.pressure;
            case PanelRow::temperatures:
                return &titles_.temperatures;
            case PanelRow::fans:
                return &titles_.fans;
            case PanelRow::diskio:
                return &titles_.diskIo;
            case PanelRow::disk:
                return &titles_.disk;
            case PanelRow::network:
                return &titles_.network;
            case PanelRow::battery:
                return &battery;
            case PanelRow::load:
            case PanelRow::uptime:
            case PanelRow::filesystems:
            case PanelRow::interfaces:
                return nullptr;  // their labels, mount points or names say what they are
        }
        return nullptr;
    };
    int titleWidth = 0;
    for (const PanelRow row : rows_) {
        if (const std::string* t = title(row)) titleWidth = std::max(titleWidth, displayWidth(*t));
    }
    titleWidth += 1;
    const std::string lead = " ";
    std::vector<std::string> rows;
    static const std::vector<ExtraRow> noRows;
    // Each row's lines and process list, and the figure its one-line form keeps: the first
    // one the row draws.
    std::vector<Block> blocks;
    std::string figure;
    const auto keep = [&](const std::string& shown) {
        if (figure.empty()) figure = shown;
    };

    // A bar row: the title, the bar as wide as the line allows, the figure, and the
    // figure's last minutes where the line has room for them beside a bar of its own.
    // The level is written beside the figure as well as coloured, for those who do not
    // tell the colours apart and for terminals without colour.
    const auto barRow = [&](const std::string& title, const ProgressBar& bar,
                            const std::string& figure, int valueWidth,
                            const std::string& spark = {}, bool battery = false) {
        const ColorLevel level =
            battery ? batteryColorLevel(bar.current()) : usageColorLevel(bar.current());
        const std::string value = figure + (level == ColorLevel::critical  ? " !!"
                                            : level == ColorLevel::warning ? " !"
                                                                           : "");
        keep(value);
        valueWidth = std::max(valueWidth, displayWidth(value));
        const int room = std::max(titleWidth, displayWidth(title) + 1);
        int cells = std::min(maximumBar, width - int(lead.size()) - room - 1 - valueWidth);
        const int sparkWidth = spark.empty() ? 0 : displayWidth(spark) + 1;
        const bool sparked = sparkWidth > 0 && cells - sparkWidth >= 2 * minimumBar;
        if (sparked)
            cells = std::min(cells, width - int(lead.size()) - room - 1 - valueWidth - sparkWidth);
        std::string row = lead + padRight(title, room);
        if (cells >= minimumBar) {
            row += renderBar(bar, cells, style.color, style.unicode) + " " +
                   padLeft(value, valueWidth) + (sparked ? " " + spark : "");
        } else {
            row += value;
        }
        if (displayWidth(row) <= width) {
            rows.push_back(row);
        } else {
            rows.push_back(lead + title);
            for (std::string& line : wrapText(value, 2, width)) rows.push_back(line);
        }
    };
    // The sparkline, then the cgroup's limit where the figure is measured against one.
    const auto spark = [&](PanelRow row) {
        if (!extra_) return std::string();
        std::string line = extra_->sparkline(row, style.unicode);
        if (const std::string mark = extra_->limitMark(row); !mark.empty())
            line += (line.empty() ? "" : " ") + mark;
        return line;
    };
    const auto outletRow = [&](const std::string& title, std::string_view bar,
                               std::string_view valueLabel, int valueWidth, PanelRow row) {
        barRow(title, *views_.progressBar(bar), text(valueLabel), valueWidth, spark(row),
               row == PanelRow::battery);
    };
    // A figure alone after the title, wrapped under it when too long.
    const auto textRow = [&](const std::string& title, const std::string& value) {
        keep(value);
        const std::string row =
            value.empty()
                ? lead + title
                : lead + padRight(title, std::max(titleWidth, displayWidth(title) + 1)) + value;
        if (displayWidth(row) <= width) {
            rows.push_back(row);
        } else {
            rows.push_back(lead + title);
            for (std::string& line : wrapText(value, 2, width)) rows.push_back(line);
        }
    };

    // A list of processes under its row: names cut to the room, figures never.
    const auto processRows = [&](UsageOrder order) {
        blocks.back().listBegin = rows.size();
        if (!processes_ || !processes_->isOpen(order)) return;
        const int indent = std::min(int(lead.size()) + titleWidth, width / 4);
        const int room = std::min(width - indent, 40);
        for (const ProcessSections::Line& line : processes_->lines(order)) {
            const int figure = displayWidth(line.figure);
            const std::string name = cutToWidth(line.name, std::max(0, room - figure - 1));
            rows.push_back(spaces(indent) + padRight(name, room - figure) + line.figure);
        }
    };

    // Small bars of three cells side by side, as many to a line as fit after the title.
    const auto coreRows = [&] {
        const std::vector<ExtraRow>& cores = extra_ ? extra_->cores() : noRows;
        if (cores.empty()) return textRow(titles_.cores, ExtraRows::notAvailable);
        int indent = int(lead.size()) + titleWidth;
        if (width - indent < 3) indent = width / 4;
        const int perLine = std::max(1, (width - indent + 1) / 4);
        std::string line = lead + padRight(titles_.cores, titleWidth);
        if (displayWidth(line) > indent) {
            rows.push_back(lead + titles_.cores);
            line = spaces(indent);
        }
        for (std::size_t i = 0; i < cores.size(); ++i) {
            if (i > 0 && i % std::size_t(perLine) == 0) {
                rows.push_back(line);
                line = spaces(indent);
            } else if (i > 0) {
                line += ' ';
            }
            line += renderBar(*cores[i].bar, 3, style.color, style.unicode);
        }
        rows.push_back(line);
    };

    const auto networkRow = [&] {
        const std::string down =
            std::string(style.unicode ? "\u2193 " : "v ") + text("downloadLabel");
        const std::string up = std::string(style.unicode ? "\u2191 " : "^ ") + text("uploadLabel");
        keep(down + "  " + up);
        const std::string network = lead + padRight(titles_.network, titleWidth);
        if (displayWidth(network) + std::max(14, displayWidth(down) + 2) + displayWidth(up) <=
            width) {
            rows.push_back(network + padRight(down, std::max(14, displayWidth(down) + 2)) + up);
        } else if (displayWidth(network) + std::max(displayWidth(down), displayWidth(up)) <=
                   width) {
            rows.push_back(network + down);
            rows.push_back(spaces(displayWidth(network)) + up);
        } else {
            rows.push_back(lead + titles_.network);
            for (const std::string* figure : {&down, &up}) {
                for (std::string& line : wrapText(*figure, 2, width)) rows.push_back(line);
            }
        }
    };

    for (const PanelRow row : rows_) {
        blocks.push_back({rows.size(), std::string::npos, 0, {}});
        figure.clear();
        switch (row) {
            case PanelRow::cpu:
                outletRow(titles_.cpu, "cpuProgressBar", "cpuPercentLabel", 4, PanelRow::cpu);
                processRows(UsageOrder::cpu);
                break;
            case PanelRow::cores:
                coreRows();
                break;
            case PanelRow::memory:
                outletRow(titles_.memory, "memoryProgressBar", "memoryPercentLabel", 4,
                          PanelRow::memory);
                processRows(UsageOrder::memory);
                break;
            case PanelRow::swap:
                if (extra_ && extra_->swap().available) {
                    barRow(titles_.swap, *extra_->swap().bar, extra_->swap().text, 4,
                           spark(PanelRow::swap));
                } else {
                    textRow(titles_.swap, ExtraRows::notAvailable);
                }
                break;
            case PanelRow::disk:
                outletRow(titles_.disk, "hddProgressBar", "hddPercentLabel", 4, PanelRow::disk);
                break;
            case PanelRow::filesystems:
                if (!extra_ || extra_->fileSystems().empty()) {
                    textRow(titles_.fileSystems, ExtraRows::notAvailable);
                }
                for (const ExtraRow& fs : extra_ ? extra_->fileSystems() : noRows) {
                    if (fs.available) {
                        barRow(fs.title, *fs.bar, fs.text, 4);
                    } else {
                        textRow(fs.title, fs.text);
                    }
                }
                break;
            case PanelRow::pressure:
                textRow(titles_.pressure,
                        extra_ ? extra_->pressure().text : ExtraRows::notAvailable);
                break;
            case PanelRow::interfaces:
                if (!extra_ || extra_->interfaces().empty()) {
                    textRow(titles_.interfaces, ExtraRows::notAvailable);
                }
                for (const ExtraRow& i : extra_ ? extra_->interfaces() : noRows) {
                    textRow(i.title, style.unicode ? i.text : asciiArrows(i.text));
                }
                break;
            case PanelRow::temperatures:
                textRow(titles_.temperatures,
                        extra_ ? extra_->temperatures().text : ExtraRows::notAvailable);
                break;
            case PanelRow::fans:
                textRow(titles_.fans, extra_ ? extra_->fans().text : ExtraRows::notAvailable);
                break;
            case PanelRow::diskio:
                textRow(titles_.diskIo, extra_ ? extra_->diskIo().text : ExtraRows::notAvailable);
                break;
            case PanelRow::network:
                networkRow();
                break;
            case PanelRow::load:
            case PanelRow::uptime:
                keep(text(row == PanelRow::load ? "loadLabel" : "uptimeLabel"));
                for (std::string& line : wrapText(figure, 1, width)) rows.push_back(line);
                break;
            case PanelRow::battery:
                outletRow(battery, "batteryProgressBar", "batteryPercentLabel", 6,
                          PanelRow::battery);
                for (const char* label : {"batteryTimeLabel", "batteryInfoLabel"}) {
                    for (std::string& line :
                         wrapText(text(label), int(lead.size()) + titleWidth, width))
                        rows.push_back(line);
                }
                if (extra_ && extra_->batteryPower().available) {
                    for (std::string& line : wrapText(extra_->batteryPower().text,
                                                      int(lead.size()) + titleWidth, width))
                        rows.push_back(line);
                }
                break;
        }
        // The row in one line: its first, where that holds the figure, else the title and
        // the figure; marked in the margin.
        Block& block = blocks.back();
        block.end = rows.size();
        if (block.listBegin == std::string::npos) block.listBegin = block.end;
        if (block.end == block.begin) continue;
        std::string& line = block.folded = rows[block.begin];
        if (!figure.empty() && line.find(figure) == std::string::npos) {
            const std::string* t = title(row);
            line = cutToWidth((t ? lead + padRight(*t, titleWidth) : lead) + figure, width);
        }
        line.replace(0, lead.size(), "+");
    }
    if (height <= 0 || int(rows.size()) <= height) return rows;
    return fitted(rows, blocks, height, width, titles_.moreLines);
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
