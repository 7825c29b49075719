// quillo-term: the panel in a terminal, on the operating system's own event loop (poll
// over a timerfd, a signalfd, the terminal and the route notifications). Started by
// `quillo` where no display is available, or with --terminal.
#include <signal.h>
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
#include "terminal/CellCanvas.hpp"
#include "terminal/PollLoop.hpp"
#include "terminal/TerminalHost.hpp"
#include "terminal/TerminalPanel.hpp"
#include "terminal/TerminalSession.hpp"
#include "terminal/Translations.hpp"

namespace {

using namespace quillo;

// Signals whose default action ends a program: the panel ends cleanly instead.
constexpr int endingSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGUSR1,
                                 SIGUSR2, SIGALRM,   SIGPIPE, SIGPWR,  SIGXCPU,
                                 SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSTKFLT};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "The Quillo panel in a terminal (started by `quillo`). Press p for the busiest\n"
        "processes (u: by cgroup), t for the table of every process, q to quit.",
        "quillo-term"};
    prepareCommandLine(app);
    FsRoot root;
    long frames = 0;
    app.add_option("--procfs", root.procfs, "procfs root to read")->capture_default_str();
    app.add_option("--sysfs", root.sysfs, "sysfs root to read")->capture_default_str();
    app.add_option("--frames", frames, "stop after N refreshes (for scripts)")
        ->transform(wholeRange(1, 1'000'000'000));
    std::string cgroup;
    addCgroupOption(app, cgroup);
    bool terminalFlag = false;
    app.add_flag("--terminal", terminalFlag, "accepted for symmetry with quillo-panel");
    if (const int status = parseCommandLine(app, argc, argv); status >= 0) return status;

    // Only the character type follows the user: numbers keep their full stop.
    std::setlocale(LC_CTYPE, "");
    const Charset charset;
    LinuxPlatform platform(root);
    setCurrentPlatform(&platform);
    if (const std::string why = applyCgroup(platform, cgroup); !why.empty()) {
        std::fprintf(stderr, "quillo-term: %s\n", why.c_str());
        return 2;
    }
    const std::string language = userLanguage();
    const EmbeddedLocalizer localizer(language, "Quillo");
    const EmbeddedLocalizer panelTexts(language, "TodayViewController");

    const char* term = std::getenv("TERM");
    const bool screen = ::isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
    TerminalStyle style;
    style.unicode = charset.utf8();
    style.color = colorModeFor(std::getenv("NO_COLOR"), std::getenv("COLORTERM"), screen);

    PollLoop loop;
    TerminalHost* host = nullptr;
    TerminalPanel panel(
        {panelTexts.localizedString("CPU"), panelTexts.localizedString("Memory"),
         panelTexts.localizedString("Disk"), panelTexts.localizedString("Network"),
         localizer.localizedString("Battery"), localizer.localizedString("Cores"),
         localizer.localizedString("Swap"), localizer.localizedString("Pressure"),
         localizer.localizedString("Disk I/O"), localizer.localizedString("File systems"),
         localizer.localizedString("Temperature"), localizer.localizedString("Fans"),
         localizer.localizedString("Interfaces"),
         localizer.localizedString("Quillo needs 20 columns"),
         localizer.localizedString("+ %d more lines")},
        [&] {
            if (host) host->changed();
        });
    ExtraRows extra(platform, prepareForCells);
    ProcessView::Texts tableTexts;
    for (std::string* text : {&tableTexts.browse, &tableTexts.filtering, &tableTexts.filter,
                              &tableTexts.confirm, &tableTexts.sent, &tableTexts.refused})
        *text = localizer.localizedString(*text);
    TerminalHost terminal(loop, panel, style, charset, screen, frames, extra,
                          Configuration::shared(), std::move(tableTexts));
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
            for (const Key& key : parseKeys({buffer, std::size_t(std::max<ssize_t>(n, 0))})) {
                if (terminal.key(key)) continue;
                switch (key.text.empty() ? '\0' : key.text[0]) {
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
                    case 'u':
                    case 'U':
                        terminal.toggleUnits();
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
