#include "desktop/PreferencesDialog.hpp"

#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "desktop/ProgressBarView.hpp"
#include "settings/Configuration.hpp"
#include "settings/RefreshRate.hpp"
#include "settings/SuiteWriter.hpp"
#include "widget/Levels.hpp"

namespace quillo {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Quillo", text);
}

QString choiceLabel(RefreshRate rate) {
    switch (rate) {
        case RefreshRate::fast:
            return tr("Fast (0.5 s)");
        case RefreshRate::normal:
            return tr("Normal (1 s)");
        case RefreshRate::slow:
            return tr("Slow (2 s)");
        case RefreshRate::verySlow:
            return tr("Very slow (5 s)");
    }
    return {};
}

}  // namespace

PreferencesDialog::PreferencesDialog(std::filesystem::path suite, QWidget* parent)
    : QDialog(parent), suite_(std::move(suite)) {
    setWindowTitle(tr("Quillo Preferences"));
    auto* form = new QFormLayout;

    refresh_ = new QComboBox(this);
    for (const RefreshRate rate : allRefreshRates)
        refresh_->addItem(choiceLabel(rate), seconds(rate));
    form->addRow(tr("Refresh:"), refresh_);
    connect(refresh_, &QComboBox::activated, this, [this](int index) {
        const double value = refresh_->itemData(index).toDouble();
        write("RefreshRate", jsonNumber(value));
    });

    const std::pair<const char*, const char*> rows[] = {{"NormalColorKey", "Normal:"},
                                                        {"WarningColorKey", "Warning:"},
                                                        {"CriticalColorKey", "Critical:"}};
    for (const auto& [key, label] : rows) {
        auto* swatch = new QPushButton(this);
        swatch->setFixedWidth(72);
        auto* reset = new QPushButton(tr("Reset"), this);
        auto* line = new QHBoxLayout;
        line->addWidget(swatch);
        line->addWidget(reset);
        line->addStretch();
        form->addRow(tr(label), line);
        colours_.push_back({key, swatch});
        const ColourRow row = colours_.back();
        connect(swatch, &QPushButton::clicked, this, [this, row] { chooseColour(row); });
        connect(reset, &QPushButton::clicked, this, [this, row] {
            write(row.key, std::nullopt);
            showSwatch(row);
        });
    }

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
        refresh_->addItem(tr("%1 s").arg(interval), interval);
        index = refresh_->count() - 1;
    }
    refresh_->setCurrentIndex(index);
    for (const ColourRow& row : colours_) showSwatch(row);
}

void PreferencesDialog::showSwatch(const ColourRow& row) {
    const Configuration config(std::make_unique<SettingsSuite>(suite_));
    const ColorLevel level = std::string_view(row.key) == "NormalColorKey" ? ColorLevel::normal
                             : std::string_view(row.key) == "WarningColorKey"
                                 ? ColorLevel::warning
                                 : ColorLevel::critical;
    const QColor colour = toQColor(levelColor(level, config));
    row.swatch->setStyleSheet(QString("background-color: %1; border: 1px solid palette(mid);")
                                  .arg(colour.name(QColor::HexArgb)));
    row.swatch->setProperty("colour", colour);
}

void PreferencesDialog::chooseColour(const ColourRow& row) {
    const QColor chosen =
        QColorDialog::getColor(row.swatch->property("colour").value<QColor>(), this,
                               tr("Choose a colour"), QColorDialog::ShowAlphaChannel);
    if (!chosen.isValid()) return;
    write(row.key, jsonNumbers({double(chosen.redF()), double(chosen.greenF()),
                                double(chosen.blueF()), double(chosen.alphaF())}));
    showSwatch(row);
}

void PreferencesDialog::write(const char* key, const std::optional<std::string>& value) {
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
