#include "desktop/DesktopApp.hpp"

#include <xcb/xcb.h>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "common/Autostart.hpp"
#include "desktop/PreferencesDialog.hpp"
#include "desktop/ProgressBarView.hpp"
#include "quillo/platform/linux/Machine.hpp"
#include "quillo/settings/SettingsSuite.hpp"
#include "quillo/widget/Levels.hpp"

namespace quillo {

namespace {

std::vector<std::string> screenNames() {
    std::vector<std::string> names;
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen == QGuiApplication::primaryScreen()) {
            names.insert(names.begin(), screen->name().toStdString());
        } else {
            names.push_back(screen->name().toStdString());
        }
    }
    return names;
}

QString translated(const char* text) {
    return QCoreApplication::translate("Quillo", text);
}

bool onWayland() {
    return QGuiApplication::platformName().startsWith("wayland");
}

std::filesystem::path selfExecutable() {
    std::error_code ec;
    const auto self = ownExecutable();
    const auto beside = self.parent_path() / "quillo";
    return !self.empty() && std::filesystem::exists(beside, ec) ? beside
                                                                : std::filesystem::path("quillo");
}

// Bars of the tray icon: a track and a fill in the level's colour, for each figure.
// The CPU and memory bars as the panel drew them, their lengths and colours taken from
// the bars themselves: nothing is decided twice.
QIcon figuresIcon(const ProgressBar* cpu, const ProgressBar* memory) {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const ProgressBar* bars[] = {cpu, memory};
    for (int i = 0; i < 2; ++i) {
        const qreal y = 20 + 26 * i;
        p.setPen(QPen(QColor(128, 128, 128, 110), 16, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, y), QPointF(54, y));
        if (!bars[i]) continue;
        const double figure = bars[i]->current();
        const double f = std::isfinite(figure) ? std::clamp(figure, 0.0, 100.0) / 100.0 : 0.0;
        if (f <= 0) continue;
        p.setPen(QPen(toQColor(bars[i]->tintColor()), 16, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, y), QPointF(10 + 44 * f, y));
    }
    return QIcon(pixmap);
}

}  // namespace

QIcon applicationIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const Color colours[] = {Theme::normalColor(), Theme::warningColor(), Theme::criticalColor()};
    const int lengths[] = {44, 30, 52};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(toQColor(colours[i]), 10, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 14 + 18 * i), QPointF(8 + lengths[i], 14 + 18 * i));
    }
    return QIcon(pixmap);
}

DesktopApp::DesktopApp(const QtLocalizer& localizer, std::filesystem::path statePath)
    : config_(Configuration::shared()),
      alerts_(config_, localizer,
              [this](const AlertMonitor::Alert& a) {
                  notifier_.notify(QString::fromStdString(a.summary),
                                   QString::fromStdString(a.body), a.critical);
              }),
      statePath_(std::move(statePath)),
      state_(PanelState::load(statePath_)) {
    window_ = std::make_unique<PanelWindow>(ControllerHost{loop_, localizer, config_, this});
    window_->setWindowIcon(applicationIcon());

    QAction* preferences = addAction(translated("Preferences…"), QKeySequence("Ctrl+,"));
    connect(preferences, &QAction::triggered, this, &DesktopApp::openPreferences);
    menu_.addSeparator();
    startAtLogin_ = addAction(translated("Start at login"));
    startAtLogin_->setCheckable(true);
    connect(startAtLogin_, &QAction::toggled, this, [](bool on) {
        try {
            on ? enableAutostart(selfExecutable()) : disableAutostart();
        } catch (const std::exception&) {
            // The entry's folder is not writable: the box follows what is true below.
        }
    });
    connect(&menu_, &QMenu::aboutToShow, this, [this] {
        const QSignalBlocker quiet(startAtLogin_);
        startAtLogin_->setChecked(autostartEnabled());
    });
    keepOnTop_ = addAction(translated("Keep on top"));
    allDesktops_ = addAction(translated("Show on all desktops"));
    frameless_ = addAction(translated("Frameless"));
    keepOnTop_->setCheckable(true);
    allDesktops_->setCheckable(true);
    frameless_->setCheckable(true);
    keepOnTop_->setChecked(state_.keepOnTop);
    allDesktops_->setChecked(state_.allDesktops);
    frameless_->setChecked(state_.frameless);
    for (QAction* a : {keepOnTop_, allDesktops_, frameless_}) {
        connect(a, &QAction::toggled, this, [this] {
            state_.keepOnTop = keepOnTop_->isChecked();
            state_.allDesktops = allDesktops_->isChecked();
            state_.frameless = frameless_->isChecked();
            applyWindowChoices();
            saveStateSoon();
        });
    }
    if (onWayland()) {
        // Wayland leaves stacking, workspaces and positions to the compositor.
        const QString why = translated(
            "Wayland does not let a program choose this: use your desktop's window menu.");
        for (QAction* a : {keepOnTop_, allDesktops_}) {
            a->setEnabled(false);
            a->setToolTip(why);
        }
        menu_.setToolTipsVisible(true);
    }
    menu_.addSeparator();
    QAction* quit = addAction(translated("Quit"), QKeySequence("Ctrl+Q"));
    connect(quit, &QAction::triggered, window_.get(), &QWidget::close);
    connect(window_.get(), &PanelWindow::contextMenuRequested, this,
            [this](const QPoint& at) { menu_.popup(at); });
    connect(window_.get(), &PanelWindow::geometryChanged, this, &DesktopApp::saveStateSoon);
    connect(window_.get(), &PanelWindow::closed, this, [this] {
        saveState();
        QCoreApplication::quit();
    });

    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(500);
    connect(&saveTimer_, &QTimer::timeout, this, &DesktopApp::saveState);
    screensSettle_.setSingleShot(true);
    screensSettle_.setInterval(1000);
    // After the signal, once the list of screens is the new one.
    placeSoon_.setSingleShot(true);
    placeSoon_.setInterval(0);
    connect(&placeSoon_, &QTimer::timeout, this, [this] {
        if (const auto place = state_.placeAmong(screenNames()))
            window_->move(place->first, place->second);
    });
    connect(qApp, &QGuiApplication::screenAdded, this, &DesktopApp::screensChanged);
    connect(qApp, &QGuiApplication::screenRemoved, this, &DesktopApp::screensChanged);

    trayMenu_ = std::make_unique<QMenu>();
    QAction* toggle = trayMenu_->addAction(translated("Show or Hide Panel"));
    connect(toggle, &QAction::triggered, this,
            [this] { window_->setVisible(!window_->isVisible()); });
    trayMenu_->addAction(preferences);
    trayMenu_->addSeparator();
    trayMenu_->addAction(quit);
    makeTray();
    if (!tray_) {
        // A tray that comes later (a shell's extension loaded after the panel started) is
        // still used: its StatusNotifierItem watcher, or the host it registers, says so.
        QDBusConnection bus = QDBusConnection::sessionBus();
        trayWatcher_ = std::make_unique<QDBusServiceWatcher>(
            "org.kde.StatusNotifierWatcher", bus, QDBusServiceWatcher::WatchForRegistration);
        connect(trayWatcher_.get(), &QDBusServiceWatcher::serviceRegistered, this,
                &DesktopApp::makeTray);
        bus.connect("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                    "org.kde.StatusNotifierWatcher", "StatusNotifierHostRegistered", this,
                    SLOT(makeTray()));
    }
    // The panel follows the traffic: a new primary route is measured at once.
    routes_ = std::make_unique<RouteWatcher>([this] {
        if (window_->controller()) window_->controller()->networkConfigurationDidChange();
    });
    if (settings_.descriptor() >= 0) {
        settingsNotifier_ =
            std::make_unique<QSocketNotifier>(settings_.descriptor(), QSocketNotifier::Read);
        connect(settingsNotifier_.get(), &QSocketNotifier::activated, this, [this] {
            if (settings_.changed() && window_->controller())
                window_->controller()->settingsDidChange();
        });
    }
}

namespace {

// Whether the desktop hosts tray icons now, asked without Qt: Qt keeps its first answer
// about StatusNotifierItem hosts for the program's life, so asking it before a host has
// come would refuse the icon for good.
bool trayHosted() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() &&
        bus.interface()->isServiceRegistered("org.kde.StatusNotifierWatcher")) {
        QDBusMessage ask = QDBusMessage::createMethodCall("org.kde.StatusNotifierWatcher",
                                                          "/StatusNotifierWatcher",
                                                          "org.freedesktop.DBus.Properties", "Get");
        ask << QString("org.kde.StatusNotifierWatcher")
            << QString("IsStatusNotifierHostRegistered");
        const QDBusMessage reply = bus.call(ask, QDBus::Block, 2000);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
            qvariant_cast<QDBusVariant>(reply.arguments().front()).variant().toBool())
            return true;
    }
    // An XEmbed tray owns the system tray selection of the screen.
    if (QGuiApplication::platformName() != "xcb") return false;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return false;
    const std::string name = "_NET_SYSTEM_TRAY_S0";  // the first screen, as Qt's tray uses
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, std::uint16_t(name.size()), name.c_str()), nullptr);
    if (!atom) return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    free(owner);
    free(atom);
    return owned;
}

}  // namespace

void DesktopApp::makeTray() {
    if (tray_ || !trayHosted() || !QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = std::make_unique<QSystemTrayIcon>(trayIcon());
    tray_->setToolTip("Quillo");
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) window_->setVisible(!window_->isVisible());
            });
    tray_->show();
}

DesktopApp::~DesktopApp() {
    saveTimer_.stop();
}

QAction* DesktopApp::addAction(const QString& text, const QKeySequence& shortcut) {
    QAction* action = menu_.addAction(text);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        window_->addAction(action);  // the shortcut works without opening the menu
    }
    return action;
}

QIcon DesktopApp::trayIcon() const {
    if (!state_.trayFigures || !refreshedOnce_) return applicationIcon();
    return figuresIcon(window_->progressBar("cpuProgressBar").get(),
                       window_->progressBar("memoryProgressBar").get());
}

void DesktopApp::memory(double percent) {
    alerts_.memory(percent);
}

void DesktopApp::refreshed() {
    refreshedOnce_ = true;
    if (tray_ && state_.trayFigures) tray_->setIcon(trayIcon());
    window_->refreshProcesses();
}

void DesktopApp::show() {
    applyWindowChoices();
    restoreGeometry();
    window_->show();
    setOnAllDesktops(state_.allDesktops);
}

void DesktopApp::applyWindowChoices() {
    const bool visible = window_->isVisible();
    Qt::WindowFlags flags = Qt::Window;
    if (state_.keepOnTop) flags |= Qt::WindowStaysOnTopHint;
    if (state_.frameless) flags |= Qt::FramelessWindowHint;
    if (window_->windowFlags() != flags) {
        const QPoint at = window_->pos();
        window_->setWindowFlags(flags);  // hides the window
        if (visible) {
            window_->move(at);
            window_->show();
        }
    }
    window_->setDraggable(state_.frameless);
    if (visible) setOnAllDesktops(state_.allDesktops);
}

// X11's way (EWMH): desktop 0xFFFFFFFF is every desktop. Set on the window before it is
// mapped, asked of the window manager once it is.
void DesktopApp::setOnAllDesktops(bool all) {
    if (QGuiApplication::platformName() != "xcb" || !window_->windowHandle()) return;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return;
    const char name[] = "_NET_WM_DESKTOP";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    if (!atom) return;
    const xcb_window_t id = xcb_window_t(window_->winId());
    const std::uint32_t desktop = all ? 0xFFFFFFFFu : 0u;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom->atom, XCB_ATOM_CARDINAL, 32, 1,
                        &desktop);
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = id;
    event.type = atom->atom;
    event.data.data32[0] = desktop;
    event.data.data32[1] = 1;  // from an application
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
    free(atom);
}

void DesktopApp::restoreGeometry() {
    if (state_.width > 0 && state_.height > 0) window_->resize(state_.width, state_.height);
    if (const auto place = state_.placeAmong(screenNames())) {
        window_->move(place->first, place->second);
        return;
    }
    // A place on a screen that is no longer there would put the panel out of sight.
    if (state_.x && state_.y && QGuiApplication::screenAt(QPoint(*state_.x + 8, *state_.y + 8)))
        window_->move(*state_.x, *state_.y);
}

void DesktopApp::screensChanged() {
    screensSettle_.start();
    placeSoon_.start();
}

void DesktopApp::saveStateSoon() {
    saveTimer_.start();
}

void DesktopApp::saveState() {
    if (window_->isVisible()) {
        const QScreen* screen = window_->screen();
        if (!screensSettle_.isActive() && screen)
            state_.remember(screen->name().toStdString(), window_->pos().x(), window_->pos().y());
        state_.width = window_->width();
        state_.height = window_->height();
    }
    state_.save(statePath_);
}

void DesktopApp::openPreferences() {
    PreferencesDialog dialog(defaultSuitePath(), window_.get());
    dialog.setTrayFigures(state_.trayFigures, [this](bool on) {
        state_.trayFigures = on;
        if (tray_) tray_->setIcon(trayIcon());
        saveState();
    });
    dialog.exec();
}

}  // namespace quillo
