#include "ResultFileName.h"

QString resultTimeStamp(const QDateTime &localTime)
{
    return localTime.toString(QStringLiteral("yyMMdd hhmmss"));
}

static bool refusedInFileName(QChar c)
{
    static const QString refused = QStringLiteral("/\\:*?\"<>|");
    return c.unicode() < 0x20 || c.unicode() == 0x7f || refused.contains(c);
}

QString sanitizeFileNamePart(const QString &text)
{
    QString safe = text;
    for (QChar &c : safe) {
        if (refusedInFileName(c))
            c = QLatin1Char('_');
    }
    return safe;
}

QString resultFileName(const QString &folder, const QString &item, const QString &tester,
                       const QString &stamp)
{
    return folder + QStringLiteral("/[AutoTest][") + sanitizeFileNamePart(item) +
           QStringLiteral("][") + sanitizeFileNamePart(tester) + QStringLiteral("][") + stamp +
           QStringLiteral("].txt");
}
