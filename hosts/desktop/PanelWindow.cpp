#include "desktop/PanelWindow.hpp"

#include <QAccessible>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QWindow>
#include <cmath>

#include "desktop/HistoryWindow.hpp"
#include "desktop/PreferencesDialog.hpp"
#include "desktop/ProgressBarView.hpp"
#include "desktop/SparklineView.hpp"
#include "quillo/platform/linux/LinuxPlatform.hpp"
#include "quillo/settings/Keys.hpp"
#include "quillo/widget/Levels.hpp"
#include "ui_TodayViewController.h"

namespace quillo {

namespace {

// A label of the panel: keeps the text it was given and shows it while the QLabel lives.
// Its size is fixed once the panel is laid out, and only ever grows: a label whose text
// changes every second (the uptime) would otherwise make Qt lay the whole panel out
// again at every refresh, measuring every text, which costs more than the refresh.
class LabelField final : public TextField {
  public:
    explicit LabelField(QLabel* label) : label_(label) {}
    void setStringValue(std::string text) override {
        // Most texts are the same from one tick to the next; Qt need not hear of those.
        if (text == text_ && label_ && !label_->text().isEmpty()) return;
        text_ = std::move(text);
        if (!label_) return;
        const QString shown = QString::fromStdString(text_);
        if (label_->minimumWidth() == label_->maximumWidth()) {
            const QMargins m = label_->contentsMargins();
            const int needed =
                label_->fontMetrics().horizontalAdvance(shown) + m.left() + m.right() + 1;
            if (needed > label_->width()) label_->setFixedWidth(needed);
        }
        label_->setText(shown);
    }
    std::string stringValue() const override { return text_; }

  private:
    QPointer<QLabel> label_;
    std::string text_;
};

}  // namespace

PanelWindow::PanelWindow(const ControllerHost& host, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::TodayViewController>()),
      observer_(host.observer),
      config_(host.config) {
    ui_->setupUi(this);
    setWindowFlag(Qt::Tool, false);
    // The rows beyond the compact panel's come from the typed sample, which reads a
    // Linux machine; on any other platform (a test's) they say their figure is missing.
    if (auto* machine = dynamic_cast<LinuxPlatform*>(&currentPlatform())) {
        extra_ = std::make_unique<ExtraRows>(*machine);
        processes_.setUnitsOf(
            [machine](std::int64_t pid) { return machine->processes().cgroup(std::int32_t(pid)); });
    }
    collectRows(host.localizer);

    // Outlets connect by object name, whatever the layout of the interface file.
    const auto named = [](std::string_view name) {
        return QString::fromUtf8(name.data(), qsizetype(name.size()));
    };
    views_ = std::make_unique<OutletViews>(
        [&](std::string_view name) -> std::shared_ptr<ProgressBar> {
            auto* view = findChild<ProgressBarView*>(named(name));
            return view ? view->bar() : nullptr;
        },
        [&](std::string_view name) -> std::shared_ptr<TextField> {
            auto* label = findChild<QLabel*>(named(name));
            if (!label) return nullptr;
            label->setTextFormat(Qt::PlainText);  // machine text is never markup
            return std::make_shared<LabelField>(label);
        });
    applyPalette();
    fixLabelSizes();

    buildProcessSection(UsageOrder::cpu, findChild<QWidget*>("cpuProcesses"));
    buildProcessSection(UsageOrder::memory, findChild<QWidget*>("memoryProcesses"));

    arrange(chosenPanelRows(config_));
    controller_ = TodayViewController::initWithCoder(
        *this, ControllerHost{host.loop, host.localizer, host.config, this});
    const NSEdgeInsets m = controller_->widgetMarginInsetsForProposedMarginInsets({});
    layout()->setContentsMargins(int(m.left), int(m.top), int(m.right), int(m.bottom));
    applyLook();
}

PanelWindow::~PanelWindow() = default;

std::shared_ptr<TextField> PanelWindow::textField(std::string_view name) const {
    return views_->textField(name);
}

std::shared_ptr<ProgressBar> PanelWindow::progressBar(std::string_view name) const {
    return views_->progressBar(name);
}

void PanelWindow::collectRows(const Localizer& localizer) {
    auto* grid = static_cast<QGridLayout*>(layout());
    // The interface file's lines: the row each belongs to, and that row's first line.
    constexpr std::pair<PanelRow, int> lines[] = {
        {PanelRow::cpu, 0},    {PanelRow::cpu, 0},     {PanelRow::memory, 2},
        {PanelRow::memory, 2}, {PanelRow::disk, 4},    {PanelRow::network, 5},
        {PanelRow::load, 6},   {PanelRow::battery, 7}, {PanelRow::battery, 7}};
    while (grid->count() > 0) {
        int line = 0, column = 0, lineSpan = 0, columnSpan = 0;
        grid->getItemPosition(0, &line, &column, &lineSpan, &columnSpan);
        QLayoutItem* item = grid->takeAt(0);
        const auto [row, first] = lines[std::clamp(line, 0, 8)];
        if (QLayout* inner = item->layout(); inner && inner->objectName() == "systemLayout") {
            // Load and uptime share a line in the file; each is a row of its own here,
            // and they share the line again where they follow each other.
            systemLayout_ = static_cast<QBoxLayout*>(inner);
            while (QLayoutItem* label = inner->takeAt(0)) {
                QWidget* w = label->widget();
                delete label;
                placed_[w == ui_->loadLabel ? PanelRow::load : PanelRow::uptime].push_back(
                    {w, nullptr, 0, 0, 3});
            }
            continue;
        }
        placed_[row].push_back({item->widget(), item->layout(), line - first, column, columnSpan});
        if (item->widget()) delete item;  // the widget is placed again, in a new item
    }

    const auto title = [&](const char* key, const char* name) {
        auto* label = new QLabel(QString::fromStdString(localizer.localizedString(key)), this);
        label->setObjectName(QString::fromLatin1(name));
        label->setTextFormat(Qt::PlainText);
        label->setProperty("role", "title");
        return label;
    };
    swapBar_ =
        new ProgressBarView(extra_ ? extra_->swap().bar : std::make_shared<ProgressBar>(), this);
    swapBar_->setObjectName("swapProgressBar");
    swapLabel_ = new QLabel(QString::fromLatin1(ExtraRows::notAvailable), this);
    swapLabel_->setObjectName("swapPercentLabel");
    swapLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    placed_[PanelRow::swap] = {{title("Swap", "swapTitleLabel"), nullptr, 0, 0, 1},
                               {swapBar_, nullptr, 0, 1, 1},
                               {swapLabel_, nullptr, 0, 2, 1}};
    for (const auto& [row, key, name, label] :
         {std::tuple{PanelRow::pressure, "Pressure", "pressure", &pressureLabel_},
          {PanelRow::diskio, "Disk I/O", "diskIo", &diskIoLabel_},
          {PanelRow::temperatures, "Temperature", "temperatures", &temperaturesLabel_},
          {PanelRow::fans, "Fans", "fans", &fansLabel_}}) {
        *label = new QLabel(QString::fromLatin1(ExtraRows::notAvailable), this);
        (*label)->setObjectName(QString::fromLatin1(name) + "Label");
        (*label)->setTextFormat(Qt::PlainText);
        const std::string titleName = std::string(name) + "TitleLabel";
        placed_[row] = {{title(key, titleName.c_str()), nullptr, 0, 0, 1},
                        {*label, nullptr, 0, 1, 2}};
    }
    for (const auto& [row, name, list] :
         {std::tuple{PanelRow::filesystems, "fileSystemsBox", &fileSystemLines_},
          {PanelRow::interfaces, "interfacesBox", &interfaceLines_}}) {
        list->box = new QWidget(this);
        list->box->setObjectName(QString::fromLatin1(name));
        auto* grid = new QGridLayout(list->box);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setHorizontalSpacing(10);
        grid->setColumnStretch(1, 1);
        placed_[row] = {{list->box, nullptr, 0, 0, 3}};
    }
    // The battery card's power line, under its time and information lines; shown only
    // where a battery tells its draw or its adapter.
    for (const Placed& p : placed_[PanelRow::battery]) {
        auto* lines = qobject_cast<QBoxLayout*>(p.layout);
        if (!extra_ || !lines || lines->indexOf(ui_->batteryInfoLabel) < 0) continue;
        batteryPowerLabel_ = new QLabel(this);
        batteryPowerLabel_->setObjectName("batteryPowerLabel");
        batteryPowerLabel_->setTextFormat(Qt::PlainText);
        batteryPowerLabel_->setProperty("role", "dim");
        lines->addWidget(batteryPowerLabel_);
    }
    // Each bar's last minutes beside its figure, in a fourth column.
    for (const PanelRow row :
         {PanelRow::cpu, PanelRow::memory, PanelRow::disk, PanelRow::swap, PanelRow::battery}) {
        if (!extra_) break;
        auto* view = new SparklineView(this);
        view->setObjectName(QString::fromLatin1(name(row)) + "Sparkline");
        // A click opens the row's history.
        view->installEventFilter(this);
        view->setCursor(Qt::PointingHandCursor);
        view->setToolTip(QCoreApplication::translate("Quillo", "History"));
        sparklines_[row] = view;
        placed_[row].push_back({view, nullptr, 0, 3, 1});
    }
    // The cgroup's limit after the CPU and memory rows, where their figures are measured
    // against one.
    for (const PanelRow row : {PanelRow::cpu, PanelRow::memory}) {
        if (!extra_) break;
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name(row)) + "LimitLabel");
        label->setTextFormat(Qt::PlainText);
        label->setProperty("role", "dim");
        label->hide();
        limitLabels_[row] = label;
        placed_[row].push_back({label, nullptr, 0, 4, 1});
    }
    // The level written after the bar rows ("!" warning, "!!" critical), so that it does
    // not rest on colour alone; blank while normal, in a column as wide as "!!" always,
    // so that the window does not change its width with the level.
    for (const PanelRow row :
         {PanelRow::cpu, PanelRow::memory, PanelRow::disk, PanelRow::battery}) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name(row)) + "LevelLabel");
        label->setTextFormat(Qt::PlainText);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        label->setFixedWidth(QFontMetrics(bold).horizontalAdvance("!!"));
        levelLabels_[row] = label;
        placed_[row].push_back({label, nullptr, 0, 5, 1});
    }
    coresBox_ = new QWidget(this);
    coresBox_->setObjectName("coresBox");
    auto* cores = new QGridLayout(coresBox_);
    cores->setContentsMargins(0, 0, 0, 0);
    cores->setSpacing(3);
    coresLabel_ = new QLabel(QString::fromLatin1(ExtraRows::notAvailable), coresBox_);
    cores->addWidget(coresLabel_, 0, 0);
    placed_[PanelRow::cores] = {{title("Cores", "coresTitleLabel"), nullptr, 0, 0, 1},
                                {coresBox_, nullptr, 0, 1, 2}};
}

void PanelWindow::arrange(const std::vector<PanelRow>& rows) {
    rows_ = rows;
    auto* grid = static_cast<QGridLayout*>(layout());
    while (QLayoutItem* item = grid->takeAt(0)) {
        if (!item->layout()) delete item;
    }
    // The chosen rows in their order, then the others hidden, so that the grid keeps
    // owning every view.
    std::vector<std::pair<PanelRow, bool>> order;
    for (const PanelRow row : rows) order.emplace_back(row, true);
    for (const auto& [row, items] : placed_) {
        if (std::find(rows.begin(), rows.end(), row) == rows.end()) order.emplace_back(row, false);
    }
    while (QLayoutItem* label = systemLayout_->takeAt(0)) delete label;
    bool systemPlaced = false;
    // Vertical: each row under the last. Horizontal: each row in a block of columns of
    // its own, the blocks side by side with an empty column between them.
    constexpr int block = 7;
    for (int c = 0; c < grid->columnCount(); ++c) grid->setColumnMinimumWidth(c, 0);
    int line = 0, left = 0;
    const auto next = [&](int lines) {
        if (!horizontal_) {
            line += lines;
            return;
        }
        grid->setColumnMinimumWidth(left + block - 1, int(std::lround(12 * scale_)));
        left += block;
    };
    for (std::size_t i = 0; i < order.size(); ++i) {
        const PanelRow row = order[i].first;
        const bool shown = order[i].second;
        const auto show = [&](QWidget* w) {
            // The process lists show only while open, a limit only where there is one.
            const bool list =
                w->objectName().endsWith("Processes") || w->objectName().endsWith("LimitLabel");
            if (!shown || !list) w->setVisible(shown);
        };
        const bool system = row == PanelRow::load || row == PanelRow::uptime;
        if (system && shown && i + 1 < order.size() && order[i + 1].second &&
            (order[i + 1].first == PanelRow::load || order[i + 1].first == PanelRow::uptime)) {
            for (const PanelRow r : {row, order[i + 1].first}) {
                QWidget* label = placed_[r].front().widget;
                systemLayout_->addWidget(label);
                show(label);
            }
            grid->addLayout(systemLayout_, line, left, 1, 3);
            next(1);
            systemPlaced = true;
            ++i;
            continue;
        }
        int lines = 1;
        for (const Placed& p : placed_[row]) {
            if (p.widget) {
                grid->addWidget(p.widget, line + p.line, left + p.column, 1, p.columnSpan);
            } else {
                grid->addLayout(p.layout, line + p.line, left + p.column, 1, p.columnSpan);
            }
            lines = std::max(lines, p.line + 1);
            if (p.widget) show(p.widget);
            for (int k = 0; p.layout && k < p.layout->count(); ++k) {
                if (QWidget* w = p.layout->itemAt(k)->widget()) show(w);
            }
        }
        next(lines);
    }
    if (!systemPlaced) grid->addLayout(systemLayout_, line, left, 1, 3);  // empty, kept owned
    // Each row named after itself for screen readers; a label that holds its figure
    // ("Uptime: 3d") is named by its text.
    for (const PanelRow row : rows) {
        QWidget* focus = rowFocus(row);
        if (focus && (!qobject_cast<QLabel*>(focus) || focus->property("role") == "title"))
            focus->setAccessibleName(rowLabel(row));
    }
    if (keyboardRows_) orderRows();
    showProcesses();
    showExtraRows();
    adjustSize();
}

void PanelWindow::applyLook() {
    const auto setting = [](std::string_view key) -> const SettingKey& {
        return *findSettingKey(key);
    };
    if (const double opacity = numberSetting(config_, setting("Opacity")); opacity != opacity_) {
        opacity_ = opacity;
        setWindowOpacity(opacity);
    }
    const double scale = numberSetting(config_, setting("Scale"));
    const bool horizontal = choiceSetting(config_, setting("Layout")) == layoutNames[1];
    if (scale == scale_ && horizontal == horizontal_) return;
    scale_ = scale;
    horizontal_ = horizontal;
    scaleViews(true);
    arrange(rows_);
}

void PanelWindow::scaleViews(bool all) {
    // Where the base size is in pixels (pointSizeF is -1), the pixels scale instead.
    const auto scaled = [this](QFont font) {
        if (font.pointSizeF() > 0) {
            font.setPointSizeF(font.pointSizeF() * scale_);
        } else {
            font.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * scale_))));
        }
        return font;
    };
    bool any = false;
    for (QLabel* label : findChildren<QLabel*>()) {
        QVariant base = label->property("baseFont");
        if (!base.isValid()) {
            base = label->font();
            label->setProperty("baseFont", base);
        } else if (!all) {
            continue;
        }
        label->setFont(scaled(base.value<QFont>()));
        // An empty label keeps the size hint of its former font until its text is set.
        const QString text = label->text();
        label->setText(QStringLiteral(" "));
        label->setText(text);
        any = true;
    }
    // Bars are narrower side by side, so that a band of rows fits a screen's width.
    for (auto* bar : findChildren<ProgressBarView*>())
        bar->setScale(scale_, horizontal_ ? 80 : 160);
    for (auto* line : findChildren<SparklineView*>()) line->setScale(scale_);
    if (!all || !any) return;
    const auto by = [this](int pixels) { return int(std::lround(pixels * scale_)); };
    // The window's margins; the spacing stays the style's, which the rows' inner
    // layouts follow only while it is not set.
    QLayout* grid = layout();
    if (!grid->property("baseMargins").isValid())
        grid->setProperty("baseMargins", QVariant::fromValue(grid->contentsMargins()));
    const auto margins = grid->property("baseMargins").value<QMargins>();
    grid->setContentsMargins(by(margins.left()), by(margins.top()), by(margins.right()),
                             by(margins.bottom()));
    fixLabelSizes();
    for (const auto& [row, label] : levelLabels_)
        label->setFixedWidth(label->fontMetrics().horizontalAdvance("!!"));
    for (const Section& section : sections_) {
        for (const auto& [name, figure] : section.rows)
            figure->setMinimumWidth(figure->fontMetrics().horizontalAdvance("99999 MB"));
    }
}

void PanelWindow::showExtraRows() {
    if (!extra_) return;
    const ExtraRow& swap = extra_->swap();
    swapLabel_->setText(
        QString::fromStdString(swap.text.empty() ? ExtraRows::notAvailable : swap.text));
    swapBar_->setVisible(swap.available && !swapLabel_->isHidden());

    pressureLabel_->setText(QString::fromStdString(extra_->pressure().text));
    diskIoLabel_->setText(QString::fromStdString(extra_->diskIo().text));
    temperaturesLabel_->setText(QString::fromStdString(extra_->temperatures().text));
    fansLabel_->setText(QString::fromStdString(extra_->fans().text));
    showBatteryPower();

    showLines(fileSystemLines_, extra_->fileSystems(), true);
    showLines(interfaceLines_, extra_->interfaces(), false);

    const std::vector<ExtraRow>& cores = extra_->cores();
    if (coreViews_.size() != cores.size()) {
        for (QWidget* view : coreViews_) delete view;
        coreViews_.clear();
        auto* grid = static_cast<QGridLayout*>(coresBox_->layout());
        // Eight to a line keeps each bar wide enough to read at a glance.
        constexpr int perLine = 8;
        for (std::size_t i = 0; i < cores.size(); ++i) {
            auto* view = new ProgressBarView(cores[i].bar, coresBox_);
            view->setMinimumWidth(12);
            view->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
            grid->addWidget(view, int(i) / perLine + 1, int(i) % perLine);
            view->show();
            coreViews_.push_back(view);
        }
        applyPalette();
        scaleViews(false);
    }
    coresLabel_->setVisible(cores.empty());
}

void PanelWindow::showLines(Lines& lines, const std::vector<ExtraRow>& rows, bool bars) {
    // One line per row: its title, its bar where it has one, and its figure; made again
    // only when the titles change (a mount or an interface came or went).
    bool same = lines.views.size() == rows.size();
    for (std::size_t i = 0; same && i < rows.size(); ++i)
        same = lines.views[i].title->text().toStdString() == rows[i].title;
    if (!same) {
        for (const LineView& v : lines.views) {
            delete v.title;
            delete v.bar;
            delete v.figure;
        }
        lines.views.clear();
        auto* grid = static_cast<QGridLayout*>(lines.box->layout());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            LineView v{new QLabel(QString::fromStdString(rows[i].title), lines.box),
                       bars ? new ProgressBarView(rows[i].bar, lines.box) : nullptr,
                       new QLabel(lines.box)};
            v.title->setTextFormat(Qt::PlainText);
            v.figure->setTextFormat(Qt::PlainText);
            v.figure->setAlignment((bars ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
            grid->addWidget(v.title, int(i), 0);
            if (v.bar) grid->addWidget(v.bar, int(i), 1);
            grid->addWidget(v.figure, int(i), bars ? 2 : 1, 1, bars ? 1 : 2);
            // Views added to a panel already laid out show only when told to.
            for (QWidget* w : {static_cast<QWidget*>(v.title), static_cast<QWidget*>(v.bar),
                               static_cast<QWidget*>(v.figure)})
                if (w) w->show();
            lines.views.push_back(v);
        }
        applyPalette();
        scaleViews(false);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        lines.views[i].figure->setText(QString::fromStdString(rows[i].text));
        if (lines.views[i].bar) lines.views[i].bar->setVisible(rows[i].available);
    }
}

void PanelWindow::showLevel(PanelRow row, ColorLevel level) {
    QLabel* label = levelLabels_.at(row);
    const bool critical = level == ColorLevel::critical;
    const bool warning = level == ColorLevel::warning;
    label->setText(critical ? "!!" : warning ? "!" : "");
    label->setToolTip(critical  ? QCoreApplication::translate("Quillo", "Critical")
                      : warning ? QCoreApplication::translate("Quillo", "Warning")
                                : QString());
}

void PanelWindow::cpu(double percent) {
    showLevel(PanelRow::cpu, usageColorLevel(percent));
    if (extra_) extra_->addFigure(PanelRow::cpu, percent);
    if (observer_) observer_->cpu(percent);
}
void PanelWindow::memory(double percent) {
    showLevel(PanelRow::memory, usageColorLevel(percent));
    if (extra_) extra_->addFigure(PanelRow::memory, percent);
    if (observer_) observer_->memory(percent);
}
void PanelWindow::disk(double percent) {
    showLevel(PanelRow::disk, usageColorLevel(percent));
    if (extra_) extra_->addFigure(PanelRow::disk, percent);
    if (observer_) observer_->disk(percent);
}
void PanelWindow::battery(std::optional<double> charge, bool discharging) {
    showLevel(PanelRow::battery, charge ? batteryColorLevel(*charge) : ColorLevel::normal);
    if (extra_ && charge) extra_->addFigure(PanelRow::battery, *charge);
    if (observer_) observer_->battery(charge, discharging);
}

void PanelWindow::batteryPower(std::optional<double> watts, std::optional<bool> adapter) {
    if (extra_ && extra_->showBatteryPower(watts, adapter)) showBatteryPower();
}

void PanelWindow::showBatteryPower() {
    if (!batteryPowerLabel_) return;
    const ExtraRow& power = extra_->batteryPower();
    batteryPowerLabel_->setText(QString::fromStdString(power.text));
    const bool visible =
        power.available && std::find(rows_.begin(), rows_.end(), PanelRow::battery) != rows_.end();
    if (visible == batteryPowerLabel_->isHidden()) {
        batteryPowerLabel_->setVisible(visible);
        adjustSize();
    }
}

void PanelWindow::describeRows() {
    if (!QAccessible::isActive()) return;  // no screen reader asks
    for (const PanelRow row : rows_) {
        QWidget* focus = rowFocus(row);
        if (!qobject_cast<QLabel*>(focus)) continue;
        QStringList texts;
        for (const Placed& p : placed_[row]) {
            std::vector<QWidget*> widgets{p.widget};
            for (int k = 0; p.layout && k < p.layout->count(); ++k)
                widgets.push_back(p.layout->itemAt(k)->widget());
            for (QWidget* w : widgets) {
                auto* label = qobject_cast<QLabel*>(w);
                if (label && label != focus && label->isVisible() && !label->text().isEmpty())
                    texts << label->text();
            }
        }
        if (const QString text = texts.join(' '); text != focus->accessibleDescription())
            focus->setAccessibleDescription(text);
    }
}

void PanelWindow::refreshed() {
    applyLook();
    if (std::vector<PanelRow> rows = chosenPanelRows(config_); rows != rows_) arrange(rows);
    if (extra_ && extra_->refresh(rows_, config_)) showExtraRows();
    for (const auto& [row, view] : sparklines_) {
        const SparklineView::Cells cells = extra_->sparklineMeans(row);
        view->setCells(cells);
    }
    for (const auto& [row, label] : limitLabels_) {
        const QString mark = QString::fromStdString(extra_->limitMark(row));
        const bool shown =
            !mark.isEmpty() && std::find(rows_.begin(), rows_.end(), row) != rows_.end();
        label->setText(mark);
        if (shown == label->isHidden()) {
            label->setVisible(shown);
            adjustSize();
        }
    }
    describeRows();
    if (observer_) observer_->refreshed();
}

void PanelWindow::applyPalette() {
    const QPalette pal = palette();
    const bool dark = pal.color(QPalette::Window).lightnessF() < 0.5;
    // The bar's default track is made for a light background; on a dark one it would glare.
    for (ProgressBarView* view : findChildren<ProgressBarView*>()) {
        const auto& bar = view->bar();
        bar->setBorderTintColor(dark ? Color{0.32, 0.32, 0.34, 1} : Color{0.75, 0.75, 0.75, 1});
        bar->setBackgroundTintColor(dark ? Color{0.22, 0.22, 0.24, 1} : Color{0.86, 0.86, 0.86, 1});
    }
    const QColor dim = pal.color(QPalette::PlaceholderText);
    for (QLabel* label : findChildren<QLabel*>()) {
        const QString role = label->property("role").toString();
        if (role == "title") {
            QFont f = label->font();
            f.setWeight(QFont::DemiBold);
            label->setFont(f);
        } else if (role == "dim") {
            QPalette p = label->palette();
            p.setColor(QPalette::WindowText, dim);
            label->setPalette(p);
        }
    }
}

void PanelWindow::fixLabelSizes() {
    // Wide enough for the widest figure each label shows, so that neither the bars nor
    // the window move as digits come and go.
    const std::pair<const char*, const char*> widest[] = {
        {"cpuPercentLabel", "100%"},
        {"memoryPercentLabel", "100%"},
        {"hddPercentLabel", "100%"},
        {"batteryPercentLabel", "100.0%"},
        {"downloadLabel", "900.0 MB/s"},
        {"uploadLabel", "900.0 MB/s"},
        {"uptimeLabel", "Uptime: 9999d 23h 59m 59s"},
        {"loadLabel", "Load Average: 99.99 99.99 99.99"}};
    for (const std::string_view name : TodayViewController::outletNames) {
        if (name == "batteryTitleLabal") continue;
        auto* label = findChild<QLabel*>(QString::fromUtf8(name.data(), qsizetype(name.size())));
        if (!label) continue;
        label->setMinimumSize(0, 0);
        label->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        QSize size = label->sizeHint();
        for (const auto& [outlet, text] : widest) {
            if (name == outlet)
                size.setWidth(
                    std::max(size.width(), label->fontMetrics().horizontalAdvance(text) + 1));
        }
        label->setFixedSize(size);
    }
}

void PanelWindow::buildProcessSection(UsageOrder order, QWidget* widget) {
    if (!widget) return;
    Section& section = sections_[order == UsageOrder::cpu ? 0 : 1];
    section.widget = widget;
    auto* grid = new QGridLayout(widget);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(0);
    grid->setColumnStretch(0, 1);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    for (int i = 0; i < int(ProcessSections::rows); ++i) {
        auto* name = new QLabel(widget);
        auto* figure = new QLabel(widget);
        for (QLabel* label : {name, figure}) {
            label->setTextFormat(Qt::PlainText);  // process names are never markup
            label->setFont(small);
        }
        figure->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        figure->setMinimumWidth(figure->fontMetrics().horizontalAdvance("99999 MB"));
        grid->addWidget(name, i, 0);
        grid->addWidget(figure, i, 1);
        section.rows.emplace_back(name, figure);
    }
    // The row's title, bar and figure open the list when clicked.
    const char* row = order == UsageOrder::cpu ? "cpu" : "memory";
    for (const char* part : {"TitleLabel", "ProgressBar", "PercentLabel"}) {
        if (auto* view =
                findChild<QWidget*>(QString::fromLatin1(row) + QString::fromLatin1(part))) {
            view->installEventFilter(this);
            view->setCursor(Qt::PointingHandCursor);
        }
    }
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (const auto& [row, view] : sparklines_) {
            if (view != watched) continue;
            openHistory(row);
            return true;
        }
        const QString name = watched->objectName();
        if (name.startsWith("cpu") || name.startsWith("memory")) {
            toggleProcesses(name.startsWith("cpu") ? UsageOrder::cpu : UsageOrder::memory);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool PanelWindow::focusNextPrevChild(bool next) {
    // The rows take the focus only once Tab is pressed: a window with a focused widget
    // costs a seventh more at every refresh, for the many who never press it.
    if (!keyboardRows_) {
        keyboardRows_ = true;
        orderRows();
    }
    return QWidget::focusNextPrevChild(next);
}

void PanelWindow::orderRows() {
    QWidget* previous = nullptr;
    for (const PanelRow row : rows_) {
        QWidget* focus = rowFocus(row);
        if (!focus) continue;
        focus->setFocusPolicy(Qt::TabFocus);
        if (previous) setTabOrder(previous, focus);
        previous = focus;
    }
}

QWidget* PanelWindow::rowFocus(PanelRow row) const {
    const auto placed = placed_.find(row);
    if (placed == placed_.end()) return nullptr;
    for (const Placed& p : placed->second)
        if (auto* bar = qobject_cast<ProgressBarView*>(p.widget)) return bar;
    for (const Placed& p : placed->second)
        for (int k = 0; p.layout && k < p.layout->count(); ++k)
            if (auto* bar = qobject_cast<ProgressBarView*>(p.layout->itemAt(k)->widget()))
                return bar;
    return placed->second.empty() ? nullptr : placed->second.front().widget;
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    // Enter on a row reached by Tab: its list (CPU, memory) or its history.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        for (const PanelRow row : rows_) {
            if (rowFocus(row) != focusWidget()) continue;
            if (row == PanelRow::cpu || row == PanelRow::memory) {
                toggleProcesses(row == PanelRow::cpu ? UsageOrder::cpu : UsageOrder::memory);
            } else {
                openHistory(row);
            }
            return;
        }
    }
    // u: the open lists by cgroup (systemd unit, container), or by process again.
    if (event->key() == Qt::Key_U && processes_.anyOpen()) {
        processes_.setByUnit(!processes_.byUnit());
        showProcesses();
        return;
    }
    if (event->key() == Qt::Key_Escape && processes_.anyOpen()) {
        processes_.closeAll();
        showProcesses();
        return;
    }
    QWidget::keyPressEvent(event);
}

HistoryWindow* PanelWindow::openHistory(PanelRow row) {
    const std::optional<std::size_t> figure = historyFigureOf(row);
    if (!figure) return nullptr;
    QPointer<HistoryWindow>& window = histories_[row];
    if (!window) {
        window = new HistoryWindow(historyFolder_, *figure, rowLabel(row), this);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void PanelWindow::toggleProcesses(UsageOrder order) {
    processes_.toggle(order);
    showProcesses();
}

void PanelWindow::refreshProcesses() {
    if (processes_.refresh()) showProcesses();
}

void PanelWindow::showProcesses() {
    bool shrank = false;
    for (const UsageOrder order : {UsageOrder::cpu, UsageOrder::memory}) {
        Section& section = sections_[order == UsageOrder::cpu ? 0 : 1];
        if (!section.widget) continue;
        const auto& lines = processes_.lines(order);
        for (std::size_t i = 0; i < section.rows.size(); ++i) {
            const bool filled = i < lines.size();
            const auto& [name, figure] = section.rows[i];
            name->setText(filled ? QString::fromStdString(lines[i].name) : QString());
            figure->setText(filled ? QString::fromStdString(lines[i].figure) : QString());
            name->setVisible(filled);
            figure->setVisible(filled);
        }
        const bool open = processes_.isOpen(order);
        shrank = shrank || (!section.widget->isHidden() && !open);
        section.widget->setVisible(open);
    }
    // The window grows with a list by itself; it gives the room back when one closes.
    if (shrank) adjustSize();
}

void PanelWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::ApplicationPaletteChange) {
        applyPalette();
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange)
        fixLabelSizes();
    QWidget::changeEvent(event);
}

void PanelWindow::contextMenuEvent(QContextMenuEvent* event) {
    emit contextMenuRequested(event->globalPos());
}

void PanelWindow::mousePressEvent(QMouseEvent* event) {
    if (draggable_ && event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PanelWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    emit geometryChanged();
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit geometryChanged();
}

void PanelWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (controller_) controller_->widgetPerformUpdateWithCompletionHandler({});
}

void PanelWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (controller_) {
        controller_->viewWillDisappear();
        controller_->viewDidDisappear();
    }
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    // Qt hides a closed window only after this; the panel disappears now.
    if (controller_ && isVisible()) {
        controller_->viewWillDisappear();
        controller_->viewDidDisappear();
    }
    controller_.reset();
    event->accept();
    emit closed();
}

}  // namespace quillo
