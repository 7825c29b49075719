#include "terminal/TerminalHost.hpp"

#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "quillo/platform/Io.hpp"
#include "terminal/TerminalSession.hpp"

namespace quillo {

int terminalWidth(int fd) {
    winsize size{};
    if (fd >= 0 && ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS"); columns && std::atoi(columns) > 0)
        return std::atoi(columns);
    return 80;
}

int terminalHeight(int fd) {
    winsize size{};
    if (fd >= 0 && ::ioctl(fd, TIOCGWINSZ, &size) == 0) return size.ws_row;
    return 0;
}

Charset::Charset() {
    const char* codeset = ::nl_langinfo(CODESET);
    utf8_ = !codeset || std::strcmp(codeset, "UTF-8") == 0;
    if (!utf8_) convert_ = ::iconv_open((std::string(codeset) + "//TRANSLIT").c_str(), "UTF-8");
}

Charset::~Charset() {
    if (convert_ != iconv_t(-1)) ::iconv_close(convert_);
}

std::string Charset::operator()(const std::string& text) const {
    if (utf8_ || convert_ == iconv_t(-1)) return text;
    std::string out(text.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* at = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0 && outLeft > 0) {
        if (::iconv(convert_, &in, &inLeft, &at, &outLeft) != std::size_t(-1)) break;
        if (errno == E2BIG) break;
        // A character with no equivalent becomes '?'.
        *at++ = '?';
        --outLeft;
        ++in;
        --inLeft;
    }
    out.resize(out.size() - outLeft);
    return out;
}

TerminalHost::TerminalHost(PollLoop& loop, TerminalPanel& panel, const TerminalStyle& style,
                           const Charset& charset, bool screen, long frames, ExtraRows& extra,
                           const Configuration& config, ProcessView::Texts tableTexts)
    : loop_(loop),
      panel_(panel),
      style_(style),
      charset_(charset),
      screen_(screen),
      framesLeft_(frames),
      table_([&files = extra.platform().processes()](std::int64_t pid) {
          return files.commandLine(std::int32_t(pid));
      }),
      view_(
          table_,
          [&files = extra.platform().processes()](std::int64_t pid, std::uint64_t start,
                                                  int signal) {
              return files.signal(std::int32_t(pid), start, signal);
          },
          std::move(tableTexts)),
      extra_(extra),
      config_(config) {
    panel_.setProcesses(&processes_);
    processes_.setUnitsOf([&platform = extra.platform()](std::int64_t pid) {
        return platform.processes().cgroup(std::int32_t(pid));
    });
    panel_.setRows(rows_, &extra_);
}

void TerminalHost::changed() {
    if (!screen_ || renderQueued_) return;
    renderQueued_ = true;
    loop_.async([this] { draw(); });
}

void TerminalHost::toggleProcesses() {
    const bool open = !processes_.anyOpen();
    processes_.setOpen(UsageOrder::cpu, open);
    processes_.setOpen(UsageOrder::memory, open);
    changed();
}

void TerminalHost::toggleUnits() {
    processes_.setByUnit(!processes_.byUnit());
    changed();
}

bool TerminalHost::key(const Key& key) {
    if (view_.handle(key)) {
        changed();
        return true;
    }
    if (view_.isOpen() || key.kind != Key::character || key.text != "t") return false;
    view_.open();
    changed();
    return true;
}

void TerminalHost::refreshed() {
    if (processes_.refresh()) changed();
    if (table_.isOpen()) {
        table_.refresh();
        changed();
    }
    if (std::vector<PanelRow> rows = chosenPanelRows(config_); rows != rows_) {
        rows_ = std::move(rows);
        panel_.setRows(rows_, &extra_);
        changed();
    }
    if (extra_.refresh(rows_, config_)) changed();
    if (!screen_) printFrame();
    if (framesLeft_ > 0 && --framesLeft_ == 0) loop_.async([this] { loop_.quit(); });
}

void TerminalHost::redrawWhole() {
    shown_.clear();
    wipe_ = true;
    changed();
}

void TerminalHost::draw() {
    renderQueued_ = false;
    if (!TerminalSession::active()) {
        if (!TerminalSession::resume()) return;
        shown_.clear();
        wipe_ = true;
    }
    const int fd = TerminalSession::descriptor();
    std::vector<std::string> next = frame(terminalWidth(fd), terminalHeight(fd));
    std::string out = wipe_ ? "\x1b[H\x1b[2J" : "";
    out += TerminalPanel::update(shown_, next);
    // A terminal that takes less than all is redrawn whole next time.
    if (TerminalSession::write(charset_(out))) {
        shown_ = std::move(next);
        wipe_ = false;
    } else {
        shown_.clear();
        wipe_ = true;
    }
}

std::vector<std::string> TerminalHost::frame(int width, int height) {
    if (!view_.isOpen() || width < TerminalPanel::minimumWidth)
        return panel_.lines(width, style_, height);
    // The table takes half the screen at least, and what the panel leaves; the panel
    // fits itself into the rest.
    constexpr int tableMinimum = 5;
    const int lines = height > 0 ? height : 24;
    std::vector<std::string> out = panel_.lines(width, style_);
    if (const int room = std::max(1, lines - std::max(tableMinimum, lines / 2));
        int(out.size()) > room)
        out = panel_.lines(width, style_, room);
    for (std::string& line : view_.lines(width, lines - int(out.size()), style_))
        out.push_back(std::move(line));
    return out;
}

void TerminalHost::printFrame() {
    std::string frame = printed_ ? "\n" : "";
    for (const std::string& line : panel_.lines(terminalWidth(-1), style_)) frame += line + "\n";
    printed_ = true;
    if (!writeAll(STDOUT_FILENO, charset_(frame))) loop_.quit();
}

}  // namespace quillo
