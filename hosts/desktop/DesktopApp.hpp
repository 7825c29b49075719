#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <memory>

#include "common/PanelState.hpp"
#include "common/SettingsWatcher.hpp"
#include "desktop/Notifier.hpp"
#include "desktop/PanelWindow.hpp"
#include "qt/QtEventLoop.hpp"
#include "qt/QtLocalizer.hpp"
#include "qt/RouteWatcher.hpp"
#include "quillo/widget/Alerts.hpp"

class QDBusServiceWatcher;

namespace quillo {

// The desktop panel as a user meets it: the window with its context menu and
// shortcuts, the tray icon, alerts, start at login, and the window's place and the
// menu's choices remembered between runs.
class DesktopApp final : public QObject, public FigureObserver {
    Q_OBJECT

  public:
    DesktopApp(const QtLocalizer& localizer, std::filesystem::path statePath);
    ~DesktopApp() override;

    PanelWindow& window() { return *window_; }
    QMenu& contextMenu() { return menu_; }
    const PanelState& state() const { return state_; }
    // The tray icon as it would be drawn now (the figures, or the application's icon).
    QIcon trayIcon() const;

    void show();

    void memory(double percent) override;
    void disk(double percent) override { alerts_.disk(percent); }
    void battery(std::optional<double> charge, bool discharging) override {
        alerts_.battery(charge, discharging);
    }
    void refreshed() override;

  private slots:
    // The tray icon, once the desktop has a tray (XEmbed or StatusNotifierItem).
    void makeTray();

  private:
    QAction* addAction(const QString& text, const QKeySequence& shortcut = {});
    void applyWindowChoices();
    void setOnAllDesktops(bool all);
    void restoreGeometry();
    // Screens came or went: the window goes to its place on the screens there now.
    void screensChanged();
    void saveStateSoon();
    void saveState();
    void openPreferences();

    QtEventLoop loop_;
    Configuration& config_;
    Notifier notifier_;
    AlertMonitor alerts_;
    std::filesystem::path statePath_;
    PanelState state_;
    std::unique_ptr<PanelWindow> window_;
    QMenu menu_;
    QAction* startAtLogin_ = nullptr;
    QAction* keepOnTop_ = nullptr;
    QAction* allDesktops_ = nullptr;
    QAction* frameless_ = nullptr;
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QDBusServiceWatcher> trayWatcher_;
    QTimer saveTimer_;
    bool refreshedOnce_ = false;  // the bars show figures, which the tray draws
    // While the window system moves the window for a screen that came or went, its
    // position is no place the user chose.
    QTimer screensSettle_;
    QTimer placeSoon_;
    std::unique_ptr<RouteWatcher> routes_;
    SettingsWatcher settings_{config_.defaults->path()};  // the file the panel reads
    std::unique_ptr<QSocketNotifier> settingsNotifier_;
};

// The application's icon: the installed one where the icon theme has it.
QIcon applicationIcon();

}  // namespace quillo
