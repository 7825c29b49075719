#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "quillo/widget/HostInterfaces.hpp"

namespace quillo {

// The translations of the desktop panel's .ts files, compiled into a table at build time.
struct TranslationEntry {
    const char* language;  // "de"
    const char* context;   // "Quillo", "TodayViewController"
    const char* source;
    const char* translation;
};
extern const TranslationEntry translationEntries[];
extern const std::size_t translationEntryCount;

// The first of the user's languages that has translations: LANGUAGE (a colon list),
// then LC_ALL, LC_MESSAGES and LANG, as gettext looks; empty for none (English).
std::string userLanguage();

// Texts of one context in one language; the key itself where there is no translation.
class EmbeddedLocalizer final : public Localizer {
  public:
    EmbeddedLocalizer(std::string language, std::string context)
        : language_(std::move(language)), context_(std::move(context)) {}
    std::string localizedString(std::string_view key) const override;

  private:
    std::string language_;
    std::string context_;
};

}  // namespace quillo
