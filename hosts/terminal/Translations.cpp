#include "terminal/Translations.hpp"

#include <cstdlib>

namespace quillo {

namespace {

bool hasTranslations(std::string_view language) {
    for (std::size_t i = 0; i < translationEntryCount; ++i) {
        if (translationEntries[i].language == language) return true;
    }
    return false;
}

// "de_DE.UTF-8" is "de"; "C" and "POSIX" are no language.
std::string_view languageOf(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of("_.@"));
    return locale == "C" || locale == "POSIX" ? std::string_view() : locale;
}

}  // namespace

std::string userLanguage() {
    const auto variable = [](const char* name) -> std::string_view {
        const char* value = std::getenv(name);
        return value ? value : "";
    };
    // LANGUAGE counts only where a locale is set at all, as gettext has it.
    std::string_view locale = variable("LC_ALL");
    if (locale.empty()) locale = variable("LC_MESSAGES");
    if (locale.empty()) locale = variable("LANG");
    if (languageOf(locale).empty()) return {};
    std::string_view list = variable("LANGUAGE");
    while (!list.empty()) {
        const std::string_view language = languageOf(list.substr(0, list.find(':')));
        if (hasTranslations(language)) return std::string(language);
        if (list.find(':') == std::string_view::npos) break;
        list.remove_prefix(list.find(':') + 1);
    }
    const std::string_view language = languageOf(locale);
    return hasTranslations(language) ? std::string(language) : std::string();
}

std::string EmbeddedLocalizer::localizedString(std::string_view key) const {
    for (std::size_t i = 0; i < translationEntryCount; ++i) {
        const TranslationEntry& e = translationEntries[i];
        if (e.source == key && e.context == context_ && e.language == language_)
            return e.translation;
    }
    return std::string(key);
}

}  // namespace quillo
