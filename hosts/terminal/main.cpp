// quillo-term: the panel in a terminal, on a Qt Core event loop. Started by `quillo`
// where no display is available, or with --terminal.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>

#include "common/QtEventLoop.hpp"
#include "common/QtLocalizer.hpp"
#include "common/RouteWatcher.hpp"
#include "platform/Io.hpp"
#include "platform/linux/LinuxPlatform.hpp"
#include "terminal/TerminalPanel.hpp"
#include "terminal/TerminalSession.hpp"

namespace {

using namespace quillo;

int signalPipe[2] = {-1, -1};

void forwardSignal(int signal) {
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

int terminalWidth() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void writeOut(const std::string& text) {
    writeAll(STDOUT_FILENO, text);
}

QString translatePanel(const char* text) {
    return QCoreApplication::translate("TodayViewController", text);
}

}  // namespace

int main(int argc, char** argv) {
    // Qt's own Unix event dispatcher is all a terminal needs, and lighter than GLib's.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quillo-term");
    QCoreApplication::setApplicationVersion(QUILLO_VERSION);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The Quillo panel in a terminal (started by `quillo`). Press q to quit.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({"procfs", "procfs root to read.", "DIR", "/proc"});
    parser.addOption({"sysfs", "sysfs root to read.", "DIR", "/sys"});
    parser.addOption({"terminal", "Accepted for symmetry with quillo-panel."});
    parser.process(app);

    LinuxPlatform platform(
        {parser.value("procfs").toStdString(), parser.value("sysfs").toStdString()});
    setCurrentPlatform(&platform);
    QtLocalizer localizer;
    localizer.loadForUserLanguages();

    const bool screen = ::isatty(STDOUT_FILENO);
    const ColorMode mode = colorModeFor(std::getenv("NO_COLOR"), std::getenv("COLORTERM"), screen);
    int width = screen ? terminalWidth() : 80;
    std::vector<std::string> shown;

    QObject context;
    bool renderQueued = false;
    TerminalPanel* panelPointer = nullptr;
    const auto render = [&] {
        renderQueued = false;
        if (!panelPointer) return;
        std::vector<std::string> next = panelPointer->lines(width, mode);
        if (screen) {
            if (!TerminalSession::active()) return;
            writeOut(TerminalPanel::update(shown, next));
        } else {
            std::string frame;
            for (const std::string& line : next) frame += line + "\n";
            writeOut(frame + "\n");
        }
        shown = std::move(next);
    };
    // One drawing after all the writes of a tick: queued behind the tick's own blocks.
    const auto scheduleRender = [&] {
        if (renderQueued) return;
        renderQueued = true;
        QMetaObject::invokeMethod(&context, render, Qt::QueuedConnection);
    };

    TerminalPanel::Titles titles{
        translatePanel("CPU").toStdString(), translatePanel("Memory").toStdString(),
        translatePanel("Disk").toStdString(), translatePanel("Network").toStdString(),
        localizer.localizedString("Battery")};
    TerminalPanel panel(titles, scheduleRender);
    panelPointer = &panel;
    QtEventLoop loop;
    auto controller = TodayViewController::initWithCoder(panel, {loop, localizer});

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGWINCH}) ::signal(s, forwardSignal);

    // Quitting gives the terminal back first, so the disappearance lines land on the
    // restored screen, and only then lets the controller go.
    const auto quit = [&] {
        TerminalSession::restore();
        if (controller) {
            controller->viewWillDisappear();
            controller->viewDidDisappear();
            controller.reset();
        }
        QCoreApplication::quit();
    };

    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &context, [&] {
        char s = 0;
        while (::read(signalPipe[0], &s, 1) == 1) {
            if (s == SIGWINCH) {
                width = terminalWidth();
                shown.clear();
                if (TerminalSession::active()) writeOut("\x1b[H\x1b[2J");
                scheduleRender();
            } else {
                quit();
            }
        }
    });

    std::unique_ptr<QSocketNotifier> keys;
    if (::isatty(STDIN_FILENO)) {
        keys = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(keys.get(), &QSocketNotifier::activated, &context, [&] {
            char buffer[64];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n == 0) quit();  // the terminal went away
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == 'q' || buffer[i] == 'Q') {
                    quit();
                    return;
                }
            }
        });
    }

    if (screen) TerminalSession::enter(STDOUT_FILENO);
    RouteWatcher routes([&] {
        if (controller) controller->networkConfigurationDidChange();
    });
    controller->widgetPerformUpdateWithCompletionHandler({});
    scheduleRender();
    const int status = QCoreApplication::exec();
    TerminalSession::restore();
    return status;
}
