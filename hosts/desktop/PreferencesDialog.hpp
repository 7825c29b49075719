#pragma once

#include <QDialog>
#include <filesystem>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;

namespace quillo {

// The companion: the refresh choice and the three level colours, each written to the
// settings suite as soon as it is chosen, so the panel shows it at its next tick.
class PreferencesDialog : public QDialog {
    Q_OBJECT

  public:
    explicit PreferencesDialog(std::filesystem::path suite, QWidget* parent = nullptr);

  private:
    struct ColourRow {
        const char* key;
        QPushButton* swatch;
    };

    void load();
    void chooseColour(const ColourRow& row);
    // Stores value under key, or removes the key when there is none; a refusal (a
    // damaged settings file) is shown in the dialog.
    void write(const char* key, const std::optional<std::string>& value);
    void showSwatch(const ColourRow& row);

    std::filesystem::path suite_;
    QComboBox* refresh_ = nullptr;
    QLabel* status_ = nullptr;
    std::vector<ColourRow> colours_;
};

}  // namespace quillo
