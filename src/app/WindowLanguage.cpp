#include "app/WindowLanguage.h"

#include <QCoreApplication>
#include <QTranslator>

#include <memory>

QTranslator *installWindowLanguage(const QLocale &locale)
{
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    // Tries benchtest_<language>.qm for each of the locale's UI languages;
    // only English is there, built into the program.
    if (!translator->load(locale, QStringLiteral("benchtest"), QStringLiteral("_"),
                          QStringLiteral(":/i18n")) ||
        !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator.release();
}
