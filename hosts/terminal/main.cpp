// quillo-term: the panel in a terminal, on the operating system's own event loop (poll
// over a timerfd, a signalfd, the terminal and the route notifications). Started by
// `quillo` where no display is available, or with --terminal.
#include <iconv.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/CommandLine.hpp"
#include "common/RouteMonitor.hpp"
#include "common/SettingsWatcher.hpp"
#include "quillo/platform/Io.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "terminal/PollLoop.hpp"
#include "terminal/TerminalPanel.hpp"
#include "terminal/TerminalSession.hpp"
#include "terminal/Translations.hpp"

namespace {

using namespace quillo;

// Signals whose default action ends a program: the panel ends cleanly instead.
constexpr int endingSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGUSR1,
                                 SIGUSR2, SIGALRM,   SIGPIPE, SIGPWR,  SIGXCPU,
                                 SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSTKFLT};

int terminalWidth(int fd) {
    winsize size{};
    if (fd >= 0 && ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS"); columns && std::atoi(columns) > 0)
        return std::atoi(columns);
    return 80;
}

// The frame's UTF-8 in the terminal's own character set, where that is another one.
class Charset {
  public:
    Charset() {
        const char* codeset = ::nl_langinfo(CODESET);
        utf8_ = !codeset || std::strcmp(codeset, "UTF-8") == 0;
        if (!utf8_) convert_ = ::iconv_open((std::string(codeset) + "//TRANSLIT").c_str(), "UTF-8");
    }
    ~Charset() {
        if (convert_ != iconv_t(-1)) ::iconv_close(convert_);
    }
    bool utf8() const { return utf8_; }
    std::string operator()(const std::string& text) const {
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

  private:
    bool utf8_ = true;
    iconv_t convert_ = iconv_t(-1);
};

class Host final : public FigureObserver {
  public:
    Host(PollLoop& loop, TerminalPanel& panel, const TerminalStyle& style, const Charset& charset,
         bool screen, long frames)
        : loop_(loop),
          panel_(panel),
          style_(style),
          charset_(charset),
          screen_(screen),
          framesLeft_(frames) {
        panel_.setProcesses(&processes_);
    }

    // A change to the panel: drawn once, after the tick's blocks.
    void changed() {
        if (!screen_ || renderQueued_) return;
        renderQueued_ = true;
        loop_.async([this] { draw(); });
    }

    // p shows or hides the busiest processes by CPU and by memory.
    void toggleProcesses() {
        const bool open = !processes_.anyOpen();
        processes_.setOpen(UsageOrder::cpu, open);
        processes_.setOpen(UsageOrder::memory, open);
        changed();
    }

    void refreshed() override {
        if (processes_.refresh()) changed();
        if (!screen_) printFrame();
        if (framesLeft_ > 0 && --framesLeft_ == 0) loop_.async([this] { loop_.quit(); });
    }

    void redrawWhole() {
        shown_.clear();
        wipe_ = true;
        changed();
    }

  private:
    void draw() {
        renderQueued_ = false;
        if (!TerminalSession::active()) {
            if (!TerminalSession::resume()) return;
            shown_.clear();
            wipe_ = true;
        }
        std::vector<std::string> next =
            panel_.lines(terminalWidth(TerminalSession::descriptor()), style_);
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

    // Without a screen to redraw, each refresh is a frame of plain lines.
    void printFrame() {
        std::string frame = printed_ ? "\n" : "";
        for (const std::string& line : panel_.lines(terminalWidth(-1), style_))
            frame += line + "\n";
        printed_ = true;
        if (!writeAll(STDOUT_FILENO, charset_(frame))) loop_.quit();
    }

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
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "The Quillo panel in a terminal (started by `quillo`). Press p for the busiest\n"
        "processes, q to quit.",
        "quillo-term"};
    prepareCommandLine(app);
    FsRoot root;
    long frames = 0;
    app.add_option("--procfs", root.procfs, "procfs root to read")->capture_default_str();
    app.add_option("--sysfs", root.sysfs, "sysfs root to read")->capture_default_str();
    app.add_option("--frames", frames, "stop after N refreshes (for scripts)")
        ->transform(wholeRange(1, 1'000'000'000));
    bool terminalFlag = false;
    app.add_flag("--terminal", terminalFlag, "accepted for symmetry with quillo-panel");
    if (const int status = parseCommandLine(app, argc, argv); status >= 0) return status;

    // Only the character type follows the user: numbers keep their full stop.
    std::setlocale(LC_CTYPE, "");
    const Charset charset;
    LinuxPlatform platform(root);
    setCurrentPlatform(&platform);
    const std::string language = userLanguage();
    const EmbeddedLocalizer localizer(language, "Quillo");
    const EmbeddedLocalizer panelTexts(language, "TodayViewController");

    const char* term = std::getenv("TERM");
    const bool screen = ::isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
    TerminalStyle style;
    style.unicode = charset.utf8();
    style.color = colorModeFor(std::getenv("NO_COLOR"), std::getenv("COLORTERM"), screen);

    PollLoop loop;
    Host* host = nullptr;
    TerminalPanel panel({panelTexts.localizedString("CPU"), panelTexts.localizedString("Memory"),
                         panelTexts.localizedString("Disk"), panelTexts.localizedString("Network"),
                         localizer.localizedString("Battery")},
                        [&] {
                            if (host) host->changed();
                        });
    Host terminal(loop, panel, style, charset, screen, frames);
    host = &terminal;

    sigset_t handled;
    sigemptyset(&handled);
    for (const int s : endingSignals) sigaddset(&handled, s);
    for (const int s : {SIGWINCH, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU}) sigaddset(&handled, s);
    ::sigprocmask(SIG_BLOCK, &handled, nullptr);
    const int signals = ::signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);

    auto controller = TodayViewController::initWithCoder(
        panel, {loop, localizer, Configuration::shared(), &terminal});
    if (screen) TerminalSession::enter(STDOUT_FILENO);

    loop.watch(signals, [&] {
        signalfd_siginfo info{};
        while (::read(signals, &info, sizeof info) == sizeof info) {
            switch (info.ssi_signo) {
                case SIGWINCH:
                    terminal.redrawWhole();
                    break;
                case SIGTSTP:
                case SIGTTIN:
                case SIGTTOU:
                    TerminalSession::suspend();
                    terminal.redrawWhole();
                    break;
                case SIGCONT:
                    TerminalSession::resume();
                    terminal.redrawWhole();
                    break;
                default:
                    loop.quit();
            }
        }
    });
    if (const int keys = TerminalSession::descriptor(); keys >= 0) {
        loop.watch(keys, [&, keys] {
            char buffer[64];
            const ssize_t n = ::read(keys, buffer, sizeof buffer);
            if (n == 0) loop.quit();  // the terminal went away
            for (ssize_t i = 0; i < n; ++i) {
                switch (buffer[i]) {
                    case 'q':
                    case 'Q':
                    case 0x03:  // Ctrl-C
                    case 0x1c:  // Ctrl-backslash
                        loop.quit();
                        return;
                    case 0x1a:  // Ctrl-Z
                        TerminalSession::suspend();
                        terminal.redrawWhole();
                        break;
                    case 'p':
                    case 'P':
                        terminal.toggleProcesses();
                        break;
                    default:
                        break;
                }
            }
        });
    }
    SettingsWatcher settings(Configuration::shared().defaults->path());
    if (settings.descriptor() >= 0) {
        loop.watch(settings.descriptor(), [&] {
            if (settings.changed()) controller->settingsDidChange();
        });
    }
    RouteMonitor routes;
    if (routes.descriptor() >= 0) {
        loop.watch(routes.descriptor(), [&] {
            if (routes.changed()) controller->networkConfigurationDidChange();
        });
    }

    controller->widgetPerformUpdateWithCompletionHandler({});
    terminal.changed();
    const int status = loop.run();
    // The terminal is given back first, so that the disappearance lines land on it.
    TerminalSession::restore();
    controller->viewWillDisappear();
    controller->viewDidDisappear();
    controller.reset();
    return status;
}
