#include "app/WindowLanguage.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTranslator>

#include <memory>

WindowLanguage windowLanguage(const QString &localeName)
{
    // The language is what comes before the territory, codeset or modifier.
    static const QRegularExpression separators(QStringLiteral("[_.@-]"));
    const QString language = localeName.section(separators, 0, 0);
    for (const char *chinese : {"zh", "C", "POSIX"}) {
        if (language == QLatin1String(chinese))
            return WindowLanguage::Chinese;
    }
    return WindowLanguage::English;
}

WindowLanguage windowLanguage(const QProcessEnvironment &environment)
{
    const QStringList languages =
        environment.value(QStringLiteral("LANGUAGE")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (!languages.isEmpty())
        return windowLanguage(languages.constFirst());
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString name = environment.value(QString::fromLatin1(variable));
        if (!name.isEmpty())
            return windowLanguage(name);
    }
    return WindowLanguage::Chinese;
}

QTranslator *installWindowLanguage(WindowLanguage language)
{
    if (language == WindowLanguage::Chinese)
        return nullptr;
    // English is the one translation, built into the program.
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    if (!translator->load(QStringLiteral(":/i18n/benchtest_en.qm")) ||
        !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator.release();
}

QTranslator *installWindowLanguage(const QLocale &locale)
{
    return installWindowLanguage(windowLanguage(locale.name()));
}
