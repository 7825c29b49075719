#include "desktop/PreferencesDialog.hpp"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

#include "common/Autostart.hpp"
#include "desktop/ProgressBarView.hpp"
#include "quillo/metrics/Battery.hpp"
#include "quillo/platform/linux/Machine.hpp"
#include "quillo/settings/Configuration.hpp"
#include "quillo/settings/Keys.hpp"
#include "quillo/settings/RefreshRate.hpp"
#include "quillo/settings/Rows.hpp"
#include "quillo/settings/SuiteWriter.hpp"
#include "quillo/widget/Levels.hpp"

namespace quillo {

namespace {

QString translated(const char* text) {
    return QCoreApplication::translate("Quillo", text);
}

QString choiceLabel(RefreshRate rate) {
    switch (rate) {
        case RefreshRate::fast:
            return translated("Fast (0.5 s)");
        case RefreshRate::normal:
            return translated("Normal (1 s)");
        case RefreshRate::slow:
            return translated("Slow (2 s)");
        case RefreshRate::verySlow:
            return translated("Very slow (5 s)");
    }
    return {};
}

}  // namespace

QString rowLabel(PanelRow row) {
    switch (row) {
        case PanelRow::cpu:
            return translated("CPU");
        case PanelRow::cores:
            return translated("Cores");
        case PanelRow::memory:
            return translated("Memory");
        case PanelRow::swap:
            return translated("Swap");
        case PanelRow::pressure:
            return translated("Pressure");
        case PanelRow::diskio:
            return translated("Disk I/O");
        case PanelRow::filesystems:
            return translated("File systems");
        case PanelRow::temperatures:
            return translated("Temperature");
        case PanelRow::fans:
            return translated("Fans");
        case PanelRow::interfaces:
            return translated("Interfaces");
        case PanelRow::disk:
            return translated("Disk");
        case PanelRow::network:
            return translated("Network");
        case PanelRow::load:
            return translated("Load average");
        case PanelRow::uptime:
            return translated("Uptime");
        case PanelRow::battery:
            return translated("Battery");
    }
    return {};
}

namespace {

bool machineHasBattery() {
    Battery battery = Battery::init();
    const bool has = battery.open() == kIOReturnSuccess;
    if (has) battery.close();
    return has;
}

}  // namespace

PreferencesDialog::PreferencesDialog(std::filesystem::path suite, QWidget* parent)
    : QDialog(parent), suite_(std::move(suite)) {
    setWindowTitle(translated("Quillo Preferences"));
    auto* form = new QFormLayout;

    refresh_ = new QComboBox(this);
    for (const RefreshRate rate : allRefreshRates)
        refresh_->addItem(choiceLabel(rate), seconds(rate));
    form->addRow(translated("Refresh:"), refresh_);
    connect(refresh_, &QComboBox::activated, this, [this](int index) {
        const double value = refresh_->itemData(index).toDouble();
        write("RefreshRate", jsonNumber(value));
    });

    const std::pair<ColorLevel, const char*> rows[] = {{ColorLevel::normal, "Normal:"},
                                                       {ColorLevel::warning, "Warning:"},
                                                       {ColorLevel::critical, "Critical:"}};
    for (const auto& [level, label] : rows) {
        auto* swatch = new QPushButton(this);
        swatch->setFixedWidth(72);
        auto* reset = new QPushButton(translated("Reset"), this);
        auto* line = new QHBoxLayout;
        line->addWidget(swatch);
        line->addWidget(reset);
        line->addStretch();
        form->addRow(translated(label), line);
        colours_.push_back({level, swatch});
        const ColourRow row = colours_.back();
        connect(swatch, &QPushButton::clicked, this, [this, row] { chooseColour(row); });
        connect(reset, &QPushButton::clicked, this, [this, row] {
            write(colorKey(row.level), std::nullopt);
            showSwatch(row);
        });
    }

    // A choice setting's words, each with its label; the key rides on the box for load().
    const auto choice = [&](const char* key, const char* label,
                            std::initializer_list<std::pair<const char*, const char*>> words) {
        auto* box = new QComboBox(this);
        box->setObjectName(QString::fromLatin1(key).toLower());
        box->setProperty("key", key);
        for (const auto& [word, text] : words) box->addItem(translated(text), word);
        form->addRow(translated(label), box);
        connect(box, &QComboBox::activated, this, [this, box, key](int index) {
            write(key,
                  storedForm(*findSettingKey(key), box->itemData(index).toString().toStdString()));
        });
        choices_.push_back(box);
        return box;
    };
    QComboBox* palette = choice("Palette", "Palette:",
                                {{"default", "Default (green, amber, red)"},
                                 {"colorblind", "Colour-blind safe (blue, orange, vermilion)"}});
    // The swatches show the palette's colours where none is set.
    connect(palette, &QComboBox::activated, this, [this] {
        for (const ColourRow& row : colours_) showSwatch(row);
    });

    const std::pair<const char*, const char*> alerts[] = {
        {"AlertBatteryBelow", "Alert when the battery is below:"},
        {"AlertMemoryAbove", "Alert when memory is above:"},
        {"AlertDiskAbove", "Alert when the disk is above:"}};
    for (const auto& [key, label] : alerts) {
        auto* box = new QSpinBox(this);
        box->setRange(0, 100);
        box->setSuffix(" %");
        box->setSpecialValueText(translated("Never"));
        form->addRow(translated(label), box);
        alerts_.emplace_back(key, box);
        connect(box, &QSpinBox::valueChanged, this,
                [this, key = key](int value) { write(key, jsonNumber(value)); });
    }

    // The rows: ticked ones are shown, in the list's order, which dragging changes.
    rows_ = new QListWidget(this);
    rows_->setObjectName("rows");
    rows_->setDragDropMode(QAbstractItemView::InternalMove);
    rows_->setSelectionMode(QAbstractItemView::SingleSelection);
    form->addRow(translated("Rows:"), rows_);
    connect(rows_, &QListWidget::itemChanged, this, [this] { writeRows(); });
    connect(rows_->model(), &QAbstractItemModel::rowsMoved, this, [this] { writeRows(); });
    hideBattery_ = new QCheckBox(translated("Hide the battery card (this machine has none)"), this);
    hideBattery_->setVisible(!machineHasBattery());
    form->addRow(hideBattery_);
    connect(hideBattery_, &QCheckBox::toggled, this, [this](bool hide) {
        for (int i = 0; i < rows_->count(); ++i) {
            QListWidgetItem* item = rows_->item(i);
            if (item->data(Qt::UserRole).toString() == "battery")
                item->setCheckState(hide ? Qt::Unchecked : Qt::Checked);
        }
    });

    choice("Layout", "Layout:",
           {{"vertical", "Vertical"}, {"horizontal", "Horizontal, for a screen's edge"}});
    for (const auto& [key, label] : {std::pair{"Scale", "Scale:"}, {"Opacity", "Opacity:"}}) {
        const SettingKey& setting = *findSettingKey(key);
        auto* box = new QSpinBox(this);
        box->setObjectName(QString::fromLatin1(key).toLower());
        box->setProperty("key", key);
        box->setRange(int(std::lround(setting.minimum * 100)),
                      int(std::lround(setting.maximum * 100)));
        box->setSingleStep(5);
        box->setSuffix(" %");
        form->addRow(translated(label), box);
        connect(box, &QSpinBox::valueChanged, this,
                [this, key = key](int percent) { write(key, jsonNumber(percent / 100.0)); });
        numbers_.push_back(box);
    }

    startAtLogin_ = new QCheckBox(translated("Start at login"), this);
    form->addRow(startAtLogin_);
    connect(startAtLogin_, &QCheckBox::toggled, this, [this](bool on) {
        try {
            if (on) {
                const auto self = ownExecutable();
                enableAutostart(self.empty() ? std::filesystem::path("quillo")
                                             : self.parent_path() / "quillo");
            } else {
                disableAutostart();
            }
            status_->clear();
        } catch (const std::exception& e) {
            status_->setText(QString::fromStdString(e.what()));
        }
    });
    trayFigures_ = new QCheckBox(translated("Show CPU and memory in the tray icon"), this);
    trayFigures_->setVisible(false);
    form->addRow(trayFigures_);
    connect(trayFigures_, &QCheckBox::toggled, this, [this](bool on) {
        if (trayChanged_) trayChanged_(on);
    });

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setTextFormat(Qt::PlainText);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_);
    layout->addWidget(buttons);
    load();
}

void PreferencesDialog::load() {
    const Configuration config(std::make_unique<SettingsSuite>(suite_));
    const double interval = config.doubleValue(config.refreshRateKey).value_or(1.0);
    int index = refresh_->findData(interval);
    if (index < 0) {
        refresh_->addItem(translated("%1 s").arg(interval), interval);
        index = refresh_->count() - 1;
    }
    refresh_->setCurrentIndex(index);
    for (const ColourRow& row : colours_) showSwatch(row);
    for (const auto& [key, box] : alerts_) {
        const QSignalBlocker quiet(box);
        const double fallback = findSettingKey(key)->defaultNumber;
        box->setValue(
            int(std::lround(std::clamp(config.doubleValue(key).value_or(fallback), 0.0, 100.0))));
    }
    const auto keyOf = [](const QObject* box) {
        return *findSettingKey(box->property("key").toString().toStdString());
    };
    for (QComboBox* box : choices_)
        box->setCurrentIndex(box->findData(QString::fromLatin1(choiceSetting(config, keyOf(box)))));
    for (QSpinBox* box : numbers_) {
        const QSignalBlocker quiet(box);
        box->setValue(int(std::lround(numberSetting(config, keyOf(box)) * 100)));
    }
    const QSignalBlocker quiet(startAtLogin_);
    startAtLogin_->setChecked(autostartEnabled());
    showRows();
}

void PreferencesDialog::showRows() {
    const Configuration config(std::make_unique<SettingsSuite>(suite_));
    const std::vector<PanelRow> chosen = chosenPanelRows(config);
    const QSignalBlocker quiet(rows_);
    rows_->clear();
    std::vector<PanelRow> order = chosen;
    for (std::size_t i = 0; i < panelRowNames.size(); ++i) {
        if (std::find(chosen.begin(), chosen.end(), PanelRow(i)) == chosen.end())
            order.push_back(PanelRow(i));
    }
    for (const PanelRow row : order) {
        auto* item = new QListWidgetItem(rowLabel(row), rows_);
        item->setData(Qt::UserRole,
                      QString::fromLatin1(name(row).data(), qsizetype(name(row).size())));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
        item->setFlags(item->flags() & ~Qt::ItemIsDropEnabled);  // dropped between, not onto
        const bool shown = std::find(chosen.begin(), chosen.end(), row) != chosen.end();
        item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
    }
    const QSignalBlocker quietBox(hideBattery_);
    hideBattery_->setChecked(std::find(chosen.begin(), chosen.end(), PanelRow::battery) ==
                             chosen.end());
}

void PreferencesDialog::writeRows() {
    std::string typed;
    for (int i = 0; i < rows_->count(); ++i) {
        const QListWidgetItem* item = rows_->item(i);
        if (item->checkState() != Qt::Checked) continue;
        if (!typed.empty()) typed += ',';
        typed += item->data(Qt::UserRole).toString().toStdString();
    }
    if (typed.empty()) {
        status_->setText(translated("The panel needs at least one row."));
        return;
    }
    write("Rows", storedForm(*findSettingKey("Rows"), typed));
    const QSignalBlocker quiet(hideBattery_);
    hideBattery_->setChecked(typed.find("battery") == std::string::npos);
}

void PreferencesDialog::setTrayFigures(bool on, std::function<void(bool)> changed) {
    const QSignalBlocker quiet(trayFigures_);
    trayFigures_->setChecked(on);
    trayFigures_->setVisible(true);
    trayChanged_ = std::move(changed);
}

void PreferencesDialog::showSwatch(const ColourRow& row) {
    const Configuration config(std::make_unique<SettingsSuite>(suite_));
    const QColor colour = toQColor(levelColor(row.level, config));
    row.swatch->setStyleSheet(QString("background-color: %1; border: 1px solid palette(mid);")
                                  .arg(colour.name(QColor::HexArgb)));
    row.swatch->setProperty("colour", colour);
}

void PreferencesDialog::chooseColour(const ColourRow& row) {
    const QColor chosen = QColorDialog::getColor(
        row.swatch->property("colour").value<QColor>(), this, translated("Choose a colour"),
        QColorDialog::ShowAlphaChannel | QColorDialog::DontUseNativeDialog);
    if (!chosen.isValid()) return;
    write(colorKey(row.level), jsonNumbers({double(chosen.redF()), double(chosen.greenF()),
                                            double(chosen.blueF()), double(chosen.alphaF())}));
    showSwatch(row);
}

void PreferencesDialog::write(std::string_view key, const std::optional<std::string>& value) {
    try {
        updateSuite(suite_, [&](SuiteText& suite) {
            if (value) {
                suite.set(key, *value);
            } else {
                suite.erase(key);
            }
        });
        status_->clear();
    } catch (const SuiteError& e) {
        status_->setText(QString::fromStdString(e.what()));
    }
}

}  // namespace quillo
