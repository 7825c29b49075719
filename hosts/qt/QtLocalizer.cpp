#include "qt/QtLocalizer.hpp"

#include <QCoreApplication>
#include <QLocale>

namespace quillo {

QtLocalizer::QtLocalizer() = default;

QtLocalizer::~QtLocalizer() {
    if (installed_) QCoreApplication::removeTranslator(&translator_);
}

bool QtLocalizer::loadForUserLanguages() {
    // uiLanguages follows LANGUAGE, LC_ALL, LC_MESSAGES and LANG, in that order.
    if (!translator_.load(QLocale(), "quillo", "_", ":/i18n")) return false;
    installed_ = QCoreApplication::installTranslator(&translator_);
    return true;
}

bool QtLocalizer::load(const QString& language) {
    if (!translator_.load("quillo_" + language, ":/i18n")) return false;
    installed_ = QCoreApplication::installTranslator(&translator_);
    return true;
}

std::string QtLocalizer::localizedString(std::string_view key) const {
    const QByteArray source(key.data(), qsizetype(key.size()));
    const QString text = translator_.translate(context, source.constData());
    return text.isEmpty() ? std::string(key) : text.toStdString();
}

}  // namespace quillo
