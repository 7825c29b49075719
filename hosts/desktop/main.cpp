// quillo-panel: the Qt host of the panel.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "common/QtEventLoop.hpp"
#include "widget/TodayViewController.hpp"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quillo-panel");
    QCoreApplication::setApplicationVersion(QUILLO_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription("The Qt host of the Quillo panel (started by `quillo`).");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({"procfs", "procfs root to read.", "DIR", "/proc"});
    parser.addOption({"sysfs", "sysfs root to read.", "DIR", "/sys"});
    parser.addOption({"desktop", "Run the desktop panel."});
    parser.addOption({"terminal", "Run the terminal panel."});
    parser.process(app);

    quillo::QtEventLoop loop;
    quillo::IdentityLocalizer localizer;
    auto controller =
        quillo::TodayViewController::initWithNibName(std::nullopt, std::nullopt, {loop, localizer});
    controller->widgetPerformUpdateWithCompletionHandler({});
    std::fprintf(stderr,
                 "quillo: the controller runs on the Qt event loop; the panel's rows are not "
                 "drawn yet. Press Ctrl-C to stop.\n");
    return QCoreApplication::exec();
}
