#pragma once

#include <QLocale>
#include <QProcessEnvironment>
#include <QString>

class QTranslator;

// The window speaks Chinese, its built-in text, to Chinese locales and to the
// C/POSIX locale (a station whose locale was never set up), and English to
// every other locale. Only captions and status texts translate: the result
// file and the log are the same in every language.
enum class WindowLanguage
{
    Chinese,
    English
};

// The language of a locale name as the environment gives it: "zh_TW.UTF-8",
// "C", "POSIX", "de_DE@euro", "en".
WindowLanguage windowLanguage(const QString &localeName);

// The language the environment asks for: the first entry of LANGUAGE decides
// ("zh_CN:en" is Chinese); without one, the first of LC_ALL, LC_MESSAGES and
// LANG that is set; with none, the C locale's.
WindowLanguage windowLanguage(const QProcessEnvironment &environment);

// Installs the window's English texts for English; Chinese is built in.
// Returns the installed translator, owned by the application, or null.
QTranslator *installWindowLanguage(WindowLanguage language);
// The same for the language of `locale`.
QTranslator *installWindowLanguage(const QLocale &locale);
