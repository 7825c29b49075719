#pragma once

#include <QDialog>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <functional>

#include "quillo/settings/Rows.hpp"
#include "quillo/ui/Theme.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace quillo {

// The companion: the refresh choice, the three level colours and their palette, the
// alert thresholds, the panel's rows and its look (layout, scale, opacity), each written to the
// settings suite as soon as it is chosen, so the panel shows it at its next tick; and the desktop
// panel's own choices (start at login, the tray's figures).
class PreferencesDialog : public QDialog {
    Q_OBJECT

  public:
    explicit PreferencesDialog(std::filesystem::path suite, QWidget* parent = nullptr);

    // Shows the tray choice, and hands every change of it to changed.
    void setTrayFigures(bool on, std::function<void(bool)> changed);

  private:
    struct ColourRow {
        ColorLevel level;
        QPushButton* swatch;
    };

    void load();
    void chooseColour(const ColourRow& row);
    // Stores value under key, or removes the key when there is none; a refusal (a
    // damaged settings file) is shown in the dialog.
    void write(std::string_view key, const std::optional<std::string>& value);
    void showSwatch(const ColourRow& row);
    void showRows();
    // The checked rows in the list's order become the Rows setting.
    void writeRows();

    std::filesystem::path suite_;
    QComboBox* refresh_ = nullptr;
    QLabel* status_ = nullptr;
    std::vector<ColourRow> colours_;
    std::vector<std::pair<const char*, QSpinBox*>> alerts_;
    QCheckBox* startAtLogin_ = nullptr;
    QCheckBox* trayFigures_ = nullptr;
    QListWidget* rows_ = nullptr;
    QCheckBox* hideBattery_ = nullptr;  // offered where the machine has no battery
    // Palette and the look: choices by the words stored, numbers in percent.
    std::vector<QComboBox*> choices_;
    std::vector<QSpinBox*> numbers_;
    std::function<void(bool)> trayChanged_;
};

// A row's name as the Preferences and the history window show it, translated.
QString rowLabel(PanelRow row);

}  // namespace quillo
