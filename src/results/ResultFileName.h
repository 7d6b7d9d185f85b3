#pragma once

#include <QDateTime>
#include <QString>

// Time stamp of the result file's name and head block: "yyMMdd hhmmss", local time.
QString resultTimeStamp(const QDateTime &localTime);

// The operator's text made safe for one file-name component: every path
// separator, every character common file systems refuse (: * ? " < > |) and
// every control character becomes "_". Nothing else changes.
QString sanitizeFileNamePart(const QString &text);

// "<folder>/[AutoTest][<item>][<tester>][<stamp>].txt", with item and tester
// sanitised. The "/" is added whatever the folder ends with.
QString resultFileName(const QString &folder, const QString &item, const QString &tester,
                       const QString &stamp);
