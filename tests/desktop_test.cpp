// The desktop panel as a user meets it: its menu and shortcuts on the offscreen
// platform, its remembered state, and its alerts on a real session bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QSpinBox>
#include <QTreeWidget>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/Autostart.hpp"
#include "common/PanelState.hpp"
#include "desktop/DesktopApp.hpp"
#include "desktop/HistoryWindow.hpp"
#include "desktop/PreferencesDialog.hpp"
#include "desktop/ProgressBarView.hpp"
#include "desktop/SparklineView.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/settings/Rows.hpp"
#include "quillo/settings/SuiteWriter.hpp"
#include "quillo/widget/Alerts.hpp"
#include "support/FakePlatform.hpp"
#include "support/Panel.hpp"
#include "support/Sandbox.hpp"

using namespace quillo;
using ::testing::ElementsAre;

namespace {

TEST(PanelState, RoundTripAndDamagedFiles) {
    test::TempDir dir;
    const auto path = dir.path() / "state" / "panel.json";
    EXPECT_EQ(PanelState::load(path), PanelState{}) << "missing: the defaults";
    const PanelState state{40,     -20, 300, 200, true, true, false, false, {{"eDP-1", {40, -20}}},
                           "eDP-1"};
    ASSERT_TRUE(state.save(path));
    EXPECT_EQ(PanelState::load(path), state);
    for (const char* damaged : {"{\"x\": \"left\", \"keepOnTop\": 1}", "[", "{\"width\": 1e99}",
                                "{\"places\": {\"HDMI-1\": [1, 2, 3]}, \"screen\": 4}"}) {
        dir.write("state/panel.json", damaged);
        EXPECT_EQ(PanelState::load(path), PanelState{}) << damaged;
    }
}

// Docked, the panel goes back to its place on the outer screen; undocked, to its place
// on the laptop's.
TEST(PanelState, APlaceForEachScreen) {
    test::TempDir dir;
    const auto path = dir.path() / "panel.json";
    PanelState state;
    state.remember("eDP-1", 10, 20);
    state.remember("HDMI-1", 2000, 30);
    ASSERT_TRUE(state.save(path));
    state = PanelState::load(path);
    using Place = std::optional<std::pair<int, int>>;
    EXPECT_EQ(state.placeAmong({"eDP-1", "HDMI-1"}), Place({2000, 30})) << "the last one placed";
    EXPECT_EQ(state.placeAmong({"eDP-1"}), Place({10, 20}));
    EXPECT_EQ(state.placeAmong({"DP-2", "eDP-1"}), Place({10, 20}));
    EXPECT_EQ(state.placeAmong({"DP-2"}), std::nullopt);
}

class Alerts : public test::PanelTest {
  protected:
    std::vector<std::string> delivered;
    AlertMonitor monitor{config, localizer,
                         [this](const AlertMonitor::Alert& a) { delivered.push_back(a.summary); }};
};

TEST_F(Alerts, OnePerCrossingArmedAgainFivePointsBack) {
    setting("AlertBatteryBelow", 20);
    for (const auto& [charge, discharging] : {std::pair{50.0, true},
                                              {19.6, true},
                                              {15.0, true},
                                              {19.0, false},
                                              {24.0, true},
                                              {15.0, true},
                                              {25.0, false},
                                              {10.0, true}}) {
        monitor.battery(charge, discharging);
    }
    for (const double p : {91.0, 95.0, 86.0, 85.0, 91.0, double(NAN)}) monitor.memory(p);
    setting("AlertDiskAbove", 0);
    monitor.disk(100.0);
    EXPECT_THAT(delivered, ElementsAre("Battery at 20 %", "Battery at 10 %", "Memory at 91 %",
                                       "Memory at 91 %"));
}

class DesktopPanel : public ::testing::Test {
  protected:
    test::TempDir home;
    std::filesystem::path statePath = home.path() / "state" / "panel.json";
    std::unique_ptr<QApplication> app;
    QtLocalizer localizer;

    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
        static int argc = 1;
        static char name[] = "desktop_test";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    static QAction* action(QMenu& menu, const QString& text) {
        for (QAction* a : menu.actions()) {
            if (a->text() == text) return a;
        }
        return nullptr;
    }
};

TEST_F(DesktopPanel, ContextMenuChoicesAreRememberedAndStartAtLoginIsReal) {
    {
        DesktopApp desktop(localizer, statePath);
        desktop.show();
        EXPECT_EQ(action(desktop.contextMenu(), "Quit")->shortcut(), QKeySequence("Ctrl+Q"));
        EXPECT_TRUE(desktop.window().actions().contains(action(desktop.contextMenu(), "Quit")))
            << "shortcuts work without the menu";

        action(desktop.contextMenu(), "Start at login")->trigger();
        EXPECT_TRUE(autostartEnabled());
        action(desktop.contextMenu(), "Start at login")->trigger();
        EXPECT_FALSE(autostartEnabled());

        action(desktop.contextMenu(), "Keep on top")->trigger();
        action(desktop.contextMenu(), "Frameless")->trigger();
        EXPECT_TRUE(desktop.window().windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(desktop.window().windowFlags() & Qt::FramelessWindowHint);
        desktop.window().resize(333, 222);
        action(desktop.contextMenu(), "Quit")->trigger();
        EXPECT_FALSE(desktop.window().isVisible());
    }
    const PanelState saved = PanelState::load(statePath);
    EXPECT_TRUE(saved.keepOnTop && saved.frameless && !saved.allDesktops);
    EXPECT_EQ(saved.width, 333);
    DesktopApp again(localizer, statePath);
    again.show();
    EXPECT_TRUE(action(again.contextMenu(), "Keep on top")->isChecked());
    EXPECT_TRUE(again.window().windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(again.window().size(), QSize(333, 222));
}

TEST_F(DesktopPanel, TrayIconDrawsWhatTheBarsShow) {
    DesktopApp desktop(localizer, statePath);
    const QImage plain = desktop.trayIcon().pixmap(64).toImage();
    const auto cpu = desktop.window().progressBar("cpuProgressBar");
    cpu->setCurrent(95.0);
    cpu->setTintColor(Theme::criticalColor());
    desktop.window().progressBar("memoryProgressBar")->setCurrent(10.0);
    desktop.refreshed();
    const QImage figures = desktop.trayIcon().pixmap(64).toImage();
    EXPECT_NE(plain, figures);
    // The CPU bar, full and critical, runs to the right; the memory bar barely starts.
    EXPECT_EQ(figures.pixelColor(50, 20).rgb(), toQColor(Theme::criticalColor()).rgb());
    EXPECT_NE(figures.pixelColor(50, 46).rgb(), toQColor(Theme::normalColor()).rgb());
}

TEST_F(DesktopPanel, ClickedRowsListTheBusiestProcessesOnlyWhileOpen) {
    test::FakePlatform fake;
    ProcessUsageSample busy, big;
    busy = {7, 1, 0, "spin", 0, 1 << 20};
    big = {8, 1, 0, "<b>big</b>", 0, std::uint64_t(600) << 20};
    fake.usage = std::vector{busy, big};
    DesktopApp desktop(localizer, statePath);
    desktop.show();
    PanelWindow& window = desktop.window();
    const auto texts = [&](const char* section) {
        std::vector<std::string> shown;
        for (QLabel* label : window.findChild<QWidget*>(section)->findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) shown.push_back(label->text().toStdString());
        }
        return shown;
    };
    const auto click = [&](const char* view) {
        QWidget* target = window.findChild<QWidget*>(view);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2),
                          target->mapToGlobal(QPointF(2, 2)), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    };
    desktop.refreshed();
    EXPECT_EQ(fake.usageReads, 0) << "closed lists read nothing";

    click("memoryTitleLabel");
    EXPECT_TRUE(window.findChild<QWidget*>("memoryProcesses")->isVisible());
    EXPECT_THAT(texts("memoryProcesses"), ElementsAre("<b>big</b>", "600 MB", "spin", "1 MB"))
        << "names as plain text, busiest first";
    click("cpuProgressBar");
    busy.cpuNanoseconds = 5'000'000'000;  // far more than the interval: at the top
    fake.usage = std::vector{busy, big};
    desktop.refreshed();
    ASSERT_FALSE(texts("cpuProcesses").empty());
    EXPECT_EQ(texts("cpuProcesses")[0], "spin");

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window, &escape);
    EXPECT_FALSE(window.processes().anyOpen());
    EXPECT_FALSE(window.findChild<QWidget*>("cpuProcesses")->isVisible());
    const int reads = fake.usageReads;
    desktop.refreshed();
    EXPECT_EQ(fake.usageReads, reads);
}

TEST_F(DesktopPanel, ChosenRowsInTheirOrderTheOthersHidden) {
    const std::filesystem::path settings = Configuration::shared().defaults->path();
    const auto rows = [&](const char* stored) {
        updateSuite(settings, [&](SuiteText& suite) {
            stored ? suite.set("Rows", stored) : suite.erase("Rows");
        });
        Configuration::shared().refreshBegins();  // as a refresh would, past earlier tests' reading
    };
    rows(R"(["swap", "cpu", "uptime", "battery", "load", "cores"])");
    DesktopApp desktop(localizer, statePath);
    desktop.show();
    PanelWindow& window = desktop.window();
    const auto top = [&](const char* name) {
        const QWidget* w = window.findChild<QWidget*>(name);
        return w && w->isVisible() ? w->mapTo(&window, QPoint()).y() : -1;
    };
    std::vector<int> tops;
    for (const char* name : {"swapTitleLabel", "cpuTitleLabel", "uptimeLabel", "batteryTitleLabal",
                             "loadLabel", "coresTitleLabel"})
        tops.push_back(top(name));
    EXPECT_TRUE(std::is_sorted(tops.begin(), tops.end()) && tops[0] >= 0)
        << ::testing::PrintToString(tops);
    EXPECT_EQ(top("memoryTitleLabel"), -1);
    EXPECT_EQ(top("downloadLabel"), -1) << "a row's views in a layout hide with it";

    rows(R"(["filesystems", "interfaces"])");
    window.controller()->updateUI(nullptr);
    QApplication::processEvents();
    for (const char* box : {"fileSystemsBox", "interfacesBox"}) {
        const auto labels = window.findChild<QWidget*>(box)->findChildren<QLabel*>();
        ASSERT_FALSE(labels.empty()) << box;
        EXPECT_TRUE(labels.front()->isVisible()) << box;
        EXPECT_GT(labels.front()->height(), 0) << box;
    }

    rows(nullptr);
    window.controller()->updateUI(nullptr);
    QApplication::processEvents();
    EXPECT_EQ(window.rows(), defaultPanelRows());
    EXPECT_GE(top("memoryTitleLabel"), 0);
    EXPECT_EQ(top("swapTitleLabel"), -1);
    EXPECT_LT(top("uptimeLabel") - top("loadLabel"), top("hddTitleLabel") - top("memoryTitleLabel"))
        << "load and uptime share one line of the grid again";
    // Each bar's last minutes beside it, on the bar's line, fed by the refreshes.
    const auto* memory = window.findChild<SparklineView*>("memorySparkline");
    ASSERT_TRUE(memory && memory->isVisible());
    EXPECT_EQ(top("memorySparkline") / 8, top("memoryProgressBar") / 8);
    EXPECT_TRUE(std::isfinite(memory->cells().back())) << "this refresh's memory share";
    EXPECT_EQ(top("swapSparkline"), -1) << "hidden with its row";
}

// A click on a sparkline opens the row's history; the pointer over it shows the value of
// that moment and the busiest processes of its minute.
TEST_F(DesktopPanel, SparklineOpensTheRowsHistory) {
    const std::filesystem::path folder = home.path() / "history";
    const std::int64_t now = wallClockMs();
    {
        std::string why;
        auto writer = HistoryWriter::open(folder, &why);
        ASSERT_TRUE(writer) << why;
        std::array<double, historyFigureCount> values;
        values.fill(42);
        for (std::int64_t t = now - 60'000; t <= now; t += 1000) {
            writer->setProcesses({{7, "spin", "spin --hard", 99.0, 1u << 20}});
            writer->add(t, values);
        }
    }
    DesktopApp desktop(localizer, statePath);
    desktop.show();
    PanelWindow& window = desktop.window();
    window.setHistoryFolder(folder);
    QWidget* sparkline = window.findChild<QWidget*>("cpuSparkline");
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2),
                      sparkline->mapToGlobal(QPointF(2, 2)), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(sparkline, &press);
    auto* history = window.findChild<HistoryWindow*>("historyWindow");
    ASSERT_TRUE(history && history->isVisible());
    EXPECT_EQ(history->windowTitle(), "CPU \u2014 History");
    EXPECT_EQ(history->span(), HistorySpan::hour);
    EXPECT_FALSE(history->chart().empty());

    // The pointer near the plot's right edge: the last points.
    QWidget* plot = history->findChild<QWidget*>("historyPlot");
    const QPointF at(plot->width() - 10, plot->height() / 2);
    QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(plot, &move);
    EXPECT_THAT(history->findChild<QLabel*>("historyMoment")->text().toStdString(),
                ::testing::EndsWith("  42%"));
    auto* processes = history->findChild<QTreeWidget*>("historyProcesses");
    ASSERT_EQ(processes->topLevelItemCount(), 1);
    EXPECT_EQ(processes->topLevelItem(0)->text(0), "spin");
    EXPECT_EQ(processes->topLevelItem(0)->toolTip(0), "spin --hard");

    history->setSpan(HistorySpan::month);
    EXPECT_TRUE(history->findChild<QLabel*>("historyMoment")->text().isEmpty());
    EXPECT_FALSE(history->chart().empty()) << "the minutes the points made";
    QApplication::sendEvent(sparkline, &press);
    EXPECT_EQ(window.findChildren<HistoryWindow*>().size(), 1) << "one window a row, raised";
}

// In a container the CPU and memory rows say what limit their figures are measured against.
TEST_F(DesktopPanel, LimitsAreMarkedBesideTheirRows) {
    LinuxPlatform container({QUILLO_FIXTURES "/linux/container-limited/proc",
                             QUILLO_FIXTURES "/linux/container-limited/sys"});
    container.setCgroup("auto");
    setCurrentPlatform(&container);
    {
        DesktopApp desktop(localizer, statePath);
        desktop.show();
        desktop.window().controller()->updateUI(nullptr);
        QApplication::processEvents();
        const auto* cpu = desktop.window().findChild<QLabel*>("cpuLimitLabel");
        const auto* memory = desktop.window().findChild<QLabel*>("memoryLimitLabel");
        ASSERT_TRUE(cpu && memory);
        EXPECT_TRUE(cpu->isVisible());
        EXPECT_EQ(cpu->text(), "limit 0.5 CPU");
        EXPECT_EQ(memory->text(), "limit 512 MiB");
    }
    container.setCgroup("host");
    {
        DesktopApp desktop(localizer, statePath);
        desktop.show();
        desktop.window().controller()->updateUI(nullptr);
        EXPECT_FALSE(desktop.window().findChild<QLabel*>("cpuLimitLabel")->isVisible());
    }
    setCurrentPlatform(nullptr);
}

// The level is written after the bar, not only coloured, and goes when the figure is
// normal, in a column that keeps the window's width.
TEST_F(DesktopPanel, LevelsAreWrittenBesideTheBars) {
    test::FakePlatform fake;
    DesktopApp desktop(localizer, statePath);
    desktop.show();
    const auto* disk = desktop.window().findChild<QLabel*>("diskLevelLabel");
    ASSERT_TRUE(disk);
    const int width = desktop.window().width();
    for (const auto& [freeGiB, shown] : {std::pair{15u, "!!"}, {45u, "!"}, {90u, ""}}) {
        fake.rootVolume = FileSystemAttributes{100ull << 30, std::uint64_t(freeGiB) << 30};
        desktop.window().controller()->updateUI(nullptr);
        QApplication::processEvents();
        EXPECT_EQ(disk->text(), shown) << freeGiB;
        EXPECT_EQ(desktop.window().width(), width) << "the window keeps its width";
    }
}

TEST_F(DesktopPanel, PreferencesChooseTheRowsAndTheirOrder) {
    const std::filesystem::path suite = home.path() / "prefs.json";
    PreferencesDialog dialog(suite);
    auto* list = dialog.findChild<QListWidget*>("rows");
    ASSERT_EQ(list->count(), int(panelRowNames.size()));
    const auto stored = [&] {
        return panelRowsText(
            chosenPanelRows(Configuration(std::make_unique<SettingsSuite>(suite))));
    };
    QListWidgetItem* swap = list->findItems("Swap", Qt::MatchExactly)[0];
    swap->setCheckState(Qt::Checked);
    EXPECT_EQ(stored(), "cpu,memory,disk,network,load,uptime,battery,swap");
    list->model()->moveRow(QModelIndex(), list->row(swap), QModelIndex(), 0);
    EXPECT_EQ(stored(), "swap,cpu,memory,disk,network,load,uptime,battery");
    for (int i = 0; i < list->count(); ++i) list->item(i)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(stored(), "battery") << "the last row is never taken away";
}

// The look chosen in Preferences is the panel's at its next refresh, and undone as well.
TEST_F(DesktopPanel, PreferencesLookIsThePanelsAtItsNextRefresh) {
    DesktopApp desktop(localizer, statePath);
    desktop.show();
    PanelWindow& window = desktop.window();
    PreferencesDialog dialog(Configuration::shared().defaults->path());
    auto* layout = dialog.findChild<QComboBox*>("layout");
    auto* scale = dialog.findChild<QSpinBox*>("scale");
    auto* opacity = dialog.findChild<QSpinBox*>("opacity");
    ASSERT_TRUE(layout && scale && opacity);
    const auto* cpu = window.findChild<QLabel*>("cpuTitleLabel");
    const auto* memory = window.findChild<QLabel*>("memoryTitleLabel");
    const double points = cpu->font().pointSizeF();
    const auto refresh = [&] {
        Configuration::shared().refreshBegins();
        window.applyLook();
        QApplication::processEvents();
    };
    const auto choose = [&](int index, int scalePercent, int opacityPercent) {
        layout->setCurrentIndex(index);
        emit layout->activated(index);
        scale->setValue(scalePercent);
        opacity->setValue(opacityPercent);
        refresh();
    };
    choose(1, 150, 60);
    EXPECT_EQ(cpu->y(), memory->y()) << "side by side";
    EXPECT_GT(memory->x(), cpu->x() + cpu->width());
    EXPECT_DOUBLE_EQ(cpu->font().pointSizeF(), points * 1.5);
    EXPECT_NEAR(window.windowOpacity(), 0.6, 0.005);
    const Configuration stored(
        std::make_unique<SettingsSuite>(Configuration::shared().defaults->path()));
    EXPECT_EQ(stored.doubleValue("Scale"), 1.5);
    choose(0, 100, 100);
    EXPECT_GT(memory->y(), cpu->y()) << "one under another again";
    EXPECT_DOUBLE_EQ(cpu->font().pointSizeF(), points);
    EXPECT_EQ(window.windowOpacity(), 1.0);
}

// Scale, layout and opacity as the command draws them.
TEST(DesktopHost, SnapshotDrawsTheChosenLook) {
    test::TempDir dir;
    const auto draw = [&](const char* key, const char* value) {
        const std::string env =
            "QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" + test::quoted(dir.path().string());
        EXPECT_EQ(
            test::run(env + " " QUILLO_BIN "/quillo settings set " + key + " " + value).status, 0);
        const auto png = dir.path() / "panel.png";
        const test::RunResult r = test::run(
            env + " " QUILLO_BIN "/quillo snapshot --ticks 1 --interval 0.1 --scale 1 --png " +
            test::quoted(png.string()));
        EXPECT_EQ(r.status, 0) << r.err;
        return QImage(QString::fromStdString(png.string()));
    };
    const QImage plain = draw("Scale", "1"), twice = draw("Scale", "2");
    EXPECT_GT(twice.width(), plain.width() * 17 / 10);
    EXPECT_GT(twice.height(), plain.height() * 17 / 10) << "text and bars together";
    draw("Scale", "1");
    const QImage band = draw("Layout", "horizontal");
    EXPECT_GT(band.width(), 3 * band.height()) << "the rows side by side";
    const QImage faint = draw("Opacity", "0.4");
    EXPECT_NEAR(faint.pixelColor(0, 0).alpha(), 0.4 * 255, 1) << "as a compositor would lay it";
    EXPECT_EQ(plain.pixelColor(0, 0).alpha(), 255);
}

TEST_F(DesktopPanel, TabGoesFromRowToRowAndEnterOpensItsListOrHistory) {
    DesktopApp desktop(localizer, statePath);
    desktop.show();
    PanelWindow& window = desktop.window();
    QApplication::setActiveWindow(&window);
    const auto press = [&](int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QWidget* focus = QApplication::focusWidget();
        QApplication::sendEvent(focus ? focus : &window, &event);
    };
    EXPECT_EQ(QApplication::focusWidget(), nullptr) << "no row holds the focus before Tab";
    press(Qt::Key_Tab);
    std::vector<std::string> visited;
    for (int i = 0; i < 4; ++i, press(Qt::Key_Tab))
        visited.push_back(QApplication::focusWidget()->accessibleName().toStdString());
    EXPECT_THAT(visited, ElementsAre("CPU", "Memory", "Disk", "Network")) << "in the rows' order";
    for (int i = 0; i < 3; ++i) press(Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget()->accessibleName(), "Memory");
    press(Qt::Key_Return);
    EXPECT_TRUE(window.findChild<QWidget*>("memoryProcesses")->isVisible()) << "its list";
    press(Qt::Key_Tab);
    press(Qt::Key_Enter);
    const auto windows = QApplication::topLevelWidgets();
    EXPECT_TRUE(std::any_of(windows.begin(), windows.end(), [](QWidget* w) {
        return w->isVisible() && w->windowTitle().startsWith("Disk");
    })) << "its history";
}

// A real session bus with a recording notification service, and the real panel over a
// battery at 15 % that discharges, with the alert at 20 %.
TEST(AlertsOnTheBus, LowBatteryRaisesOneNotificationPerCrossing) {
    test::TempDir dir;
    const test::RunResult bus =
        test::run("dbus-daemon --session --fork --print-address=1 --print-pid=1");
    ASSERT_EQ(bus.status, 0) << bus.err;
    const std::string address = bus.out.substr(0, bus.out.find('\n'));
    const pid_t busPid = std::stoi(bus.out.substr(bus.out.find('\n') + 1));
    const std::string env = "DBUS_SESSION_BUS_ADDRESS=" + test::quoted(address) +
                            " XDG_CONFIG_HOME=" + test::quoted(dir.path().string()) +
                            " XDG_STATE_HOME=" + test::quoted(dir.path().string()) +
                            " QT_QPA_PLATFORM=offscreen ";
    const auto log = dir.path() / "notifications";
    test::Daemon recorder("env " + env + QUILLO_BIN "/notification_recorder " +
                          test::quoted(log.string()));
    using test::waitFor;
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(log.string() + ".ready"); }));

    const std::string battery = "sys/class/power_supply/BAT0/";
    dir.write(battery + "type", "Battery\n");
    dir.write(battery + "status", "Discharging\n");
    dir.write(battery + "capacity", "15\n");
    dir.write("quillo/io.quillo.shared.json", "{\"RefreshRate\": 0.1, \"AlertBatteryBelow\": 20}");
    test::Daemon panel("env " + env + QUILLO_BIN "/quillo-panel --desktop" + dir.rootOptions());
    const auto notifications = [&] {
        std::vector<nlohmann::json> lines;
        std::istringstream in(test::readFile(log));
        for (std::string line; std::getline(in, line);)
            lines.push_back(nlohmann::json::parse(line));
        return lines;
    };
    EXPECT_TRUE(waitFor([&] { return notifications().size() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // several refreshes later
    ASSERT_EQ(notifications().size(), 1u) << "one notification per crossing";
    dir.write(battery + "capacity", "40\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    dir.write(battery + "capacity", "12\n");
    EXPECT_TRUE(waitFor([&] { return notifications().size() == 2; }));

    panel.stop();
    recorder.stop();
    ::kill(busPid, SIGTERM);
    const auto all = notifications();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]["app"], "Quillo");
    EXPECT_EQ(all[0]["icon"], "io.quillo.Quillo");
    EXPECT_EQ(all[0]["summary"], "Battery at 15 %");
    EXPECT_EQ(all[0]["urgency"], 2) << "a battery running out is critical";
    EXPECT_EQ(all[1]["summary"], "Battery at 12 %");
}

}  // namespace
