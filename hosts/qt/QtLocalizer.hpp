#pragma once

#include <QTranslator>

#include "quillo/widget/HostInterfaces.hpp"

namespace quillo {

// Texts through Qt's translator, in the context the translations are kept under. The
// translation for the user's language is compiled into the program at build time.
class QtLocalizer final : public Localizer {
  public:
    static constexpr const char* context = "Quillo";

    QtLocalizer();
    ~QtLocalizer() override;

    // Loads the translation for the first of the user's languages that has one.
    bool loadForUserLanguages();
    bool load(const QString& language);  // "de", "en"...

    std::string localizedString(std::string_view key) const override;

  private:
    QTranslator translator_;
    bool installed_ = false;
};

}  // namespace quillo
