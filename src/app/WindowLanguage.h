#pragma once

#include <QLocale>

class QTranslator;

// Installs the window's English texts when `locale` asks for English (its UI
// languages: LANGUAGE, then LC_ALL, LC_MESSAGES, LANG); Chinese, the built-in
// text, stays otherwise. Returns the installed translator, owned by the
// application, or null. Only captions and status texts translate: the result
// file and the log are the same in every language.
QTranslator *installWindowLanguage(const QLocale &locale = QLocale::system());
