#include "terminal/ProcessView.hpp"

#include <csignal>
#include <cstring>

#include "quillo/metrics/Utf8.hpp"
#include "quillo/widget/Format.hpp"

namespace quillo {

namespace {

Key::Kind sequenceKey(std::string_view parameters, char final) {
    switch (final) {
        case 'A':
            return Key::up;
        case 'B':
            return Key::down;
        case 'H':
            return Key::home;
        case 'F':
            return Key::end;
        case '~':
            if (parameters == "5") return Key::pageUp;
            if (parameters == "6") return Key::pageDown;
            if (parameters == "1" || parameters == "7") return Key::home;
            if (parameters == "4" || parameters == "8") return Key::end;
            return Key::other;
        default:
            return Key::other;
    }
}

// Resident memory in at most five columns, as top shows it.
std::string residentText(std::uint64_t bytes) {
    const double kib = double(bytes) / 1024;
    if (kib < 1000) return formatC("%.0fK", {kib});
    if (kib / 1024 < 1000) return formatC("%.0fM", {kib / 1024});
    const double gib = kib / (1024 * 1024);
    return formatC(gib < 100 ? "%.1fG" : "%.0fG", {gib});
}

const char* signalName(int signal) {
    return signal == SIGKILL ? "SIGKILL" : "SIGTERM";
}

}  // namespace

std::vector<Key> parseKeys(std::string_view bytes) {
    std::vector<Key> keys;
    for (std::size_t i = 0; i < bytes.size();) {
        const char c = bytes[i];
        if (c == '\x1b' && i + 1 < bytes.size() && (bytes[i + 1] == '[' || bytes[i + 1] == 'O')) {
            std::size_t end = i + 2;
            while (end < bytes.size() && (bytes[end] < 0x40 || bytes[end] > 0x7e)) ++end;
            if (end == bytes.size()) break;  // cut off: nothing a key could be
            keys.push_back({sequenceKey(bytes.substr(i + 2, end - i - 2), bytes[end]), {}});
            i = end + 1;
        } else if (c == '\x1b') {
            keys.push_back({Key::escape, {}});
            ++i;
        } else if (c == '\r' || c == '\n') {
            keys.push_back({Key::enter, {}});
            ++i;
        } else if (c == '\x7f' || c == '\b') {
            keys.push_back({Key::backspace, {}});
            ++i;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            keys.push_back({Key::other, std::string(1, c)});
            ++i;
        } else {
            const std::size_t length = std::max<std::size_t>(codePointAt(bytes, i).length, 1);
            keys.push_back({Key::character, std::string(bytes.substr(i, length))});
            i += length;
        }
    }
    return keys;
}

void ProcessView::open() {
    mode_ = Mode::browse;
    message_.clear();
    table_.setOpen(true);
}

bool ProcessView::handle(const Key& key) {
    if (!isOpen()) return false;
    message_.clear();
    // Controls (Ctrl-C, Ctrl-Z) stay the panel's in every mode.
    if (key.kind == Key::other) {
        if (mode_ == Mode::confirm) mode_ = Mode::browse;
        return false;
    }
    switch (mode_) {
        case Mode::confirm:
            mode_ = Mode::browse;
            if (key.kind == Key::character && (key.text == "y" || key.text == "Y")) sendAsked();
            return true;
        case Mode::filter:
            if (key.kind == Key::character) {
                table_.setFilter(table_.filter() + key.text);
            } else if (key.kind == Key::backspace) {
                std::string filter = table_.filter();
                while (!filter.empty() &&
                       (static_cast<unsigned char>(filter.back()) & 0xc0) == 0x80)
                    filter.pop_back();
                if (!filter.empty()) filter.pop_back();
                table_.setFilter(std::move(filter));
            } else if (key.kind == Key::enter) {
                mode_ = Mode::browse;
            } else if (key.kind == Key::escape) {
                table_.setFilter({});
                mode_ = Mode::browse;
            } else {
                browse(key);
            }
            return true;
        case Mode::browse:
            return browse(key);
    }
    return false;
}

bool ProcessView::browse(const Key& key) {
    const auto page = std::ptrdiff_t(page_);
    switch (key.kind) {
        case Key::up:
            table_.move(-1);
            return true;
        case Key::down:
            table_.move(1);
            return true;
        case Key::pageUp:
            table_.move(-page);
            return true;
        case Key::pageDown:
            table_.move(page);
            return true;
        case Key::home:
        case Key::end:
            table_.moveToEnd(key.kind == Key::end);
            return true;
        case Key::escape:
            table_.setOpen(false);
            return true;
        case Key::enter:
            return true;
        case Key::character:
            break;
        default:
            return false;
    }
    const std::string& c = key.text;
    if (c == "t") {
        table_.setOpen(false);
    } else if (c == "c" || c == "m" || c == "n" || c == "N") {
        table_.setSort(c == "c"   ? ProcessTable::Sort::cpu
                       : c == "m" ? ProcessTable::Sort::memory
                       : c == "n" ? ProcessTable::Sort::pid
                                  : ProcessTable::Sort::name);
    } else if (c == "/") {
        mode_ = Mode::filter;
    } else if (c == "k" || c == "K") {
        ask(c == "k" ? SIGTERM : SIGKILL);
    } else {
        return false;
    }
    return true;
}

// The process is remembered as it was when asked, so that the answer signals that
// process even when a refresh has moved the highlight meanwhile.
void ProcessView::ask(int signal) {
    const ProcessTable::Row* row = table_.selectedRow();
    if (!row) return;
    mode_ = Mode::confirm;
    signal_ = signal;
    pid_ = row->usage.pid;
    startTime_ = row->usage.startTime;
    name_ = visibleText(row->usage.command);
}

void ProcessView::sendAsked() {
    const int error = send_ ? send_(pid_, startTime_, signal_) : ENOSYS;
    message_ = error == 0 ? formatC(texts_.sent, {signalName(signal_), pid_})
                          : formatC(texts_.refused, {signalName(signal_), pid_,
                                                     std::string_view(::strerrordesc_np(error))});
}

std::vector<std::string> ProcessView::lines(int width, int height, const TerminalStyle& style) {
    std::vector<std::string> out;
    if (!isOpen() || height < 3) return out;
    const bool user = width >= 40, resident = width >= 30;
    const std::string_view down = style.unicode ? "\u25bc" : "v",
                           up = style.unicode ? "\u25b2" : "^";
    const ProcessTable::Sort sort = table_.sort();
    const auto title = [&](std::string_view name, ProcessTable::Sort by, std::string_view mark) {
        return std::string(name) + std::string(sort == by ? mark : "");
    };
    std::string header = " " + padLeft(title("PID", ProcessTable::Sort::pid, up), 7) + " ";
    if (user) header += padRight("USER", 8) + " ";
    header += padLeft(title("CPU%", ProcessTable::Sort::cpu, down), 5) + " ";
    if (resident) header += padLeft(title("RES", ProcessTable::Sort::memory, down), 5) + " ";
    header += title("COMMAND", ProcessTable::Sort::name, up);
    out.push_back("\x1b[1m" + padRight(cutToWidth(header, width), width) + resetAttributes);

    const int below = message_.empty() ? 1 : 2;
    page_ = std::size_t(std::max(1, height - 1 - below));
    table_.setHeight(page_);
    const auto& rows = table_.rows();
    for (std::size_t i = table_.first(); i < std::min(rows.size(), table_.first() + page_); ++i) {
        const ProcessUsage& p = rows[i].usage;
        const bool chosen = i == table_.selected();
        std::string line = (chosen ? ">" : " ") + padLeft(std::to_string(p.pid), 7) + " ";
        if (user) line += padRight(cutToWidth(visibleText(p.user), 8), 8) + " ";
        line += padLeft(formatC(p.cpu < 100 ? "%.1f" : "%.0f", {p.cpu}), 5) + " ";
        if (resident) line += padLeft(residentText(p.rss), 5) + " ";
        const std::string* command = rows[i].commandLine;
        line += command && !command->empty() ? visibleText(*command)
                                             : "[" + visibleText(p.command) + "]";
        line = padRight(cutToWidth(line, width), width);
        out.push_back(chosen ? "\x1b[7m" + line + resetAttributes : line);
    }
    out.resize(std::size_t(height - below));
    if (!message_.empty()) out.push_back(cutToWidth(message_, width));
    std::string keys;
    switch (mode_) {
        case Mode::browse:
            keys =
                table_.filter().empty()
                    ? texts_.browse
                    : formatC(texts_.filter, {visibleText(table_.filter())}) + "  " + texts_.browse;
            break;
        case Mode::filter:
            keys =
                formatC(texts_.filter, {visibleText(table_.filter())}) + "_  " + texts_.filtering;
            break;
        case Mode::confirm:
            keys = formatC(texts_.confirm, {signalName(signal_), pid_, name_});
            break;
    }
    out.push_back("\x1b[7m" + padRight(cutToWidth(keys, width), width) + resetAttributes);
    return out;
}

}  // namespace quillo
