// quillo-panel: the Qt host of the panel, started by `quillo`. Runs the desktop panel,
// the headless snapshot, and where no display exists the terminal panel.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "common/CommandLine.hpp"
#include "common/Display.hpp"
#include "common/Snapshot.hpp"
#include "desktop/DesktopApp.hpp"
#include "desktop/PanelWindow.hpp"
#include "desktop/PreferencesDialog.hpp"
#include "desktop/ProgressBarView.hpp"
#include "qt/QtEventLoop.hpp"
#include "qt/QtLocalizer.hpp"
#include "qt/RouteWatcher.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/settings/SettingsSuite.hpp"
#include "quillo/ui/Theme.hpp"
#include "quillo/widget/Format.hpp"
#include "quillo/widget/OutletViews.hpp"

namespace {

using namespace quillo;

struct Options {
    FsRoot root;
    std::string cgroup;  // empty: the Cgroup setting's
    bool desktop = false;
    bool terminal = false;
    bool snapshot = false;
    int ticks = 2;
    double interval = 1.0;
    int scale = 2;
    bool json = false;
    QString png;
};

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "quillo-panel: %s\n", qPrintable(message));
    std::exit(1);
}

Options parse(int argc, char** argv) {
    CLI::App app{
        "The Quillo desktop panel, started by `quillo`: the panel's window where a display is "
        "available, the terminal panel otherwise, or a snapshot.",
        "quillo-panel"};
    prepareCommandLine(app);
    Options o;
    std::string png;
    app.add_option("--procfs", o.root.procfs, "procfs root to read")->capture_default_str();
    app.add_option("--sysfs", o.root.sysfs, "sysfs root to read")->capture_default_str();
    addCgroupOption(app, o.cgroup);
    auto* desktop = app.add_flag("--desktop", o.desktop, "run the desktop panel");
    app.add_flag("--terminal", o.terminal, "run the terminal panel")->excludes(desktop);
    app.add_flag("--snapshot", o.snapshot, "run the controller headlessly and print every outlet");
    app.add_option("--ticks", o.ticks, "ticks before a snapshot is taken")
        ->capture_default_str()
        ->transform(wholeRange(1, 100000));
    app.add_option("--interval", o.interval, "seconds between a snapshot's ticks")
        ->capture_default_str()
        ->transform(finiteRange(0.1, 86400.0));
    app.add_option("--scale", o.scale, "device pixel ratio of the PNG")
        ->capture_default_str()
        ->transform(wholeRange(1, 8));
    app.add_flag("--json", o.json, "print the snapshot as JSON");
    app.add_option("--png", png, "render the desktop panel of the snapshot to FILE");
    if (const int status = parseCommandLine(app, argc, argv); status >= 0) std::exit(status);
    o.png = QString::fromStdString(png);
    return o;
}

int runSnapshot(const Options& o, int argc, char** argv) {
    std::optional<QApplication> gui;
    std::optional<QCoreApplication> core;
    if (!o.png.isEmpty()) {
        // A snapshot never opens a window, whatever display there is.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        gui.emplace(argc, argv);
    } else {
        core.emplace(argc, argv);
    }
    QtLocalizer localizer;
    localizer.loadForUserLanguages();
    QtEventLoop qtLoop;
    TickCountingLoop loop(qtLoop, o.ticks, [] { QCoreApplication::quit(); });
    // The snapshot's own spacing, whatever the stored refresh rate: its run time is
    // ticks × interval, not hours when the panel refreshes hourly.
    Configuration config(
        std::make_unique<const PinnedIntervalSuite>(defaultSuitePath(), o.interval));
    const ControllerHost host{loop, localizer, config};

    std::unique_ptr<PanelWindow> window;
    OutletViews headless;
    headless.textField("batteryTitleLabal")->setStringValue(localizer.localizedString("Battery"));
    const ViewTree* views = &headless;
    std::shared_ptr<TodayViewController> controller;
    if (gui) {
        window = std::make_unique<PanelWindow>(host);
        // The panel's own size, not one cut to the screen: at a large scale factor the
        // offscreen screen is small in logical pixels, and the bars would shrink.
        window->resize(window->sizeHint());
        // Shown, though never on a screen, so that views the refreshes add are laid out
        // as in a window; the showing is the update request.
        window->setAttribute(Qt::WA_DontShowOnScreen);
        window->show();
        views = window.get();
    } else {
        controller = TodayViewController::initWithCoder(headless, host);
        controller->widgetPerformUpdateWithCompletionHandler({});
    }
    QCoreApplication::exec();

    if (window) {
        window->resize(window->sizeHint());
        QPixmap image(window->size() * o.scale);
        image.setDevicePixelRatio(o.scale);
        image.fill(window->palette().color(QPalette::Window));
        window->render(&image);
        // Translucent as a compositor lays the window over the desktop.
        if (window->windowOpacity() < 1) {
            QPixmap laid(image.size());
            laid.setDevicePixelRatio(o.scale);
            laid.fill(Qt::transparent);
            QPainter painter(&laid);
            painter.setOpacity(window->windowOpacity());
            painter.drawPixmap(0, 0, image);
            painter.end();
            image = laid;
        }
        if (!image.save(o.png, "PNG")) fail("cannot write " + o.png);
    }
    const std::string out =
        o.json ? jsonEscaped(outletStates(*views).dump(
                     2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) +
                     "\n"
               : outletStatesText(*views);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

// Where there is no display, the terminal panel beside this program takes over.
[[noreturn]] void runTerminal(const Options& o, const char* self) {
    const std::string beside = std::filesystem::path(self).parent_path() / "quillo-term";
    const std::string procfs = o.root.procfs, sysfs = o.root.sysfs;
    const std::string program = ::access(beside.c_str(), X_OK) == 0 ? beside : "quillo-term";
    const std::string cgroup = o.cgroup.empty() ? "" : "--cgroup=" + o.cgroup;
    ::execlp(program.c_str(), program.c_str(), "--procfs", procfs.c_str(), "--sysfs", sysfs.c_str(),
             cgroup.empty() ? static_cast<char*>(nullptr) : cgroup.c_str(),
             static_cast<char*>(nullptr));
    fail(QString("cannot start quillo-term: ") + std::strerror(errno));
}

int signalPipe[2] = {-1, -1};

void forwardSignal(int signal) {
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

int runDesktop(int argc, char** argv) {
    // Qt's own Unix event loop wakes less than GLib's; nothing here needs GLib's (the
    // colour dialog is Qt's own, not a GTK one).
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillo");
    QApplication::setDesktopFileName("io.quillo.Quillo");
    QtLocalizer localizer;
    localizer.loadForUserLanguages();
    DesktopApp desktop(localizer, PanelState::defaultPath());
    // A logout or Ctrl-C closes the panel as Quit does, so its place is remembered.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, forwardSignal);
    }
    QSocketNotifier stops(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stops, &QSocketNotifier::activated, &desktop,
                     [&desktop] { desktop.window().close(); });
    desktop.show();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    LinuxPlatform platform(options.root);
    setCurrentPlatform(&platform);
    if (const std::string why = applyCgroup(platform, options.cgroup); !why.empty()) {
        std::fprintf(stderr, "quillo-panel: %s\n", why.c_str());
        return 2;
    }
    if (options.snapshot) return runSnapshot(options, argc, argv);
    if (options.terminal) runTerminal(options, argv[0]);
    // Qt aborts when its display is gone; the display is asked first, so that a stale
    // DISPLAY is a clear message and status 1.
    const DisplayProbe display = probeDisplay();
    if (!display.named && !options.desktop) runTerminal(options, argv[0]);
    if (!display.answers) {
        std::fprintf(
            stderr, "quillo-panel: cannot open the display %s: %s\n",
            visibleText(display.named ? display.name : "(none named)").c_str(),
            display.named ? display.problem.c_str() : "DISPLAY and WAYLAND_DISPLAY are unset");
        return 1;
    }
    return runDesktop(argc, argv);
}
