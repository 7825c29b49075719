// A terminal's screen, as `tmux capture-pane -e -p` prints it (text and SGR colours),
// drawn as an SVG picture of a dark terminal: frame_svg < screen.txt > screen.svg
#include <array>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Style {
    std::string fg = "#d4d4d4", bg;  // no background: the terminal's own
    bool bold = false, dim = false;
    bool operator==(const Style&) const = default;
};

struct Cell {
    std::string text;  // one UTF-8 character
    Style style;
};

constexpr std::array<const char*, 16> basic{
    "#1e1e1e", "#cd3131", "#0dbc79", "#e5e510", "#2472c8", "#bc3fbc", "#11a8cd", "#e5e5e5",
    "#666666", "#f14c4c", "#23d18b", "#f5f543", "#3b8eea", "#d670d6", "#29b8db", "#ffffff"};

std::string rgb(int r, int g, int b) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", r & 255, g & 255, b & 255);
    return text;
}

std::string indexed(int n) {
    if (n < 16) return basic[std::size_t(n)];
    if (n < 232) {
        const int c = n - 16;
        const auto level = [](int v) { return v == 0 ? 0 : 55 + 40 * v; };
        return rgb(level(c / 36), level(c / 6 % 6), level(c % 6));
    }
    const int gray = 8 + 10 * (n - 232);
    return rgb(gray, gray, gray);
}

void apply(const std::vector<int>& codes, Style& style) {
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const int c = codes[i];
        const auto colour = [&]() -> std::string {
            if (i + 1 < codes.size() && codes[i + 1] == 5 && i + 2 < codes.size()) {
                i += 2;
                return indexed(codes[i]);
            }
            if (i + 1 < codes.size() && codes[i + 1] == 2 && i + 4 < codes.size()) {
                i += 4;
                return rgb(codes[i - 2], codes[i - 1], codes[i]);
            }
            return {};
        };
        if (c == 0)
            style = {};
        else if (c == 1)
            style.bold = true;
        else if (c == 2)
            style.dim = true;
        else if (c == 22)
            style.bold = style.dim = false;
        else if (c >= 30 && c <= 37)
            style.fg = basic[std::size_t(c - 30)];
        else if (c >= 90 && c <= 97)
            style.fg = basic[std::size_t(c - 82)];
        else if (c >= 40 && c <= 47)
            style.bg = basic[std::size_t(c - 40)];
        else if (c >= 100 && c <= 107)
            style.bg = basic[std::size_t(c - 92)];
        else if (c == 38)
            style.fg = colour();
        else if (c == 48)
            style.bg = colour();
        else if (c == 39)
            style.fg = Style{}.fg;
        else if (c == 49)
            style.bg.clear();
    }
}

std::vector<Cell> cellsOf(const std::string& line, Style& style) {
    std::vector<Cell> cells;
    for (std::size_t i = 0; i < line.size();) {
        if (line[i] == '\x1b' && i + 1 < line.size() && line[i + 1] == '[') {
            std::size_t end = line.find_first_of("ABCDEFGHJKSTfmhl", i + 2);
            if (end == std::string::npos) break;
            if (line[end] == 'm') {
                std::vector<int> codes;
                std::istringstream list(line.substr(i + 2, end - i - 2));
                for (std::string n; std::getline(list, n, ';');)
                    codes.push_back(n.empty() ? 0 : std::stoi(n));
                if (codes.empty()) codes.push_back(0);
                apply(codes, style);
            }
            i = end + 1;
            continue;
        }
        const auto byte = static_cast<unsigned char>(line[i]);
        const std::size_t length = byte < 0x80 ? 1 : byte < 0xe0 ? 2 : byte < 0xf0 ? 3 : 4;
        cells.push_back({line.substr(i, length), style});
        i += length;
    }
    return cells;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

}  // namespace

int main() {
    constexpr double cellWidth = 8.43, lineHeight = 18, fontSize = 14, margin = 12;
    std::vector<std::vector<Cell>> screen;
    Style style;
    std::size_t columns = 0;
    for (std::string line; std::getline(std::cin, line);) {
        screen.push_back(cellsOf(line, style));
        columns = std::max(columns, screen.back().size());
    }
    while (!screen.empty() && screen.back().empty()) screen.pop_back();
    const double width = 2 * margin + cellWidth * double(columns);
    const double height = 2 * margin + lineHeight * double(screen.size());
    std::printf(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
        "font-family=\"DejaVu Sans Mono, monospace\" font-size=\"%.0f\">\n",
        width, height, fontSize);
    std::printf("<rect width=\"100%%\" height=\"100%%\" rx=\"6\" fill=\"%s\"/>\n", basic[0]);
    for (std::size_t row = 0; row < screen.size(); ++row) {
        const auto& cells = screen[row];
        const double top = margin + lineHeight * double(row);
        // Runs of one style: a background rectangle and one text element each.
        for (std::size_t at = 0; at < cells.size();) {
            std::size_t end = at;
            std::string text;
            while (end < cells.size() && cells[end].style == cells[at].style)
                text += cells[end++].text;
            const Style& s = cells[at].style;
            const double x = margin + cellWidth * double(at);
            if (!s.bg.empty())
                std::printf(
                    "<rect x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\" fill=\"%s\"/>\n", x,
                    top, cellWidth * double(end - at), lineHeight, s.bg.c_str());
            // The run's width is fixed, so a viewer without the font still keeps the columns.
            if (text.find_first_not_of(' ') != std::string::npos)
                std::printf(
                    "<text x=\"%.2f\" y=\"%.0f\" textLength=\"%.2f\" fill=\"%s\"%s%s "
                    "xml:space=\"preserve\">%s</text>\n",
                    x, top + lineHeight - 5, cellWidth * double(end - at), s.fg.c_str(),
                    s.bold ? " font-weight=\"bold\"" : "", s.dim ? " opacity=\"0.6\"" : "",
                    escaped(text).c_str());
            at = end;
        }
    }
    std::printf("</svg>\n");
}
