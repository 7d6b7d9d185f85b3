#pragma once

#include <QDateTime>
#include <QString>

// Time stamp of the result file's name and head block: "yyMMdd hhmmss", local time.
QString resultTimeStamp(const QDateTime &localTime);

// The operator's text made safe for one file-name component: every path
// separator, every character common file systems refuse (: * ? " < > |) and
// every control character becomes "_". Nothing else changes.
QString sanitizeFileNamePart(const QString &text);

// At most this many bytes (UTF-8) of the item and of the tester enter the
// name, so that it stays within the 255 bytes file systems allow for a name.
constexpr int kMaxFileNamePartBytes = 100;

// The longest start of `text` that fits in kMaxFileNamePartBytes, cut between
// characters.
QString shortenFileNamePart(const QString &text);

// "<folder>/[AutoTest][<item>][<tester>][<stamp>].txt", with item and tester
// sanitised and shortened. The "/" is added whatever the folder ends with.
QString resultFileName(const QString &folder, const QString &item, const QString &tester,
                       const QString &stamp);
