#include "results/ResultFileName.h"

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

QString shortenFileNamePart(const QString &text)
{
    int bytes = 0;
    int i = 0;
    while (i < text.size()) {
        // A surrogate pair is one character, four bytes in UTF-8.
        const bool pair =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const int length = pair ? 2 : 1;
        const int size = int(text.mid(i, length).toUtf8().size());
        if (bytes + size > kMaxFileNamePartBytes)
            break;
        bytes += size;
        i += length;
    }
    return text.left(i);
}

QString resultFileName(const QString &folder, const QString &item, const QString &tester,
                       const QString &stamp)
{
    return folder + QStringLiteral("/[AutoTest][") +
           shortenFileNamePart(sanitizeFileNamePart(item)) + QStringLiteral("][") +
           shortenFileNamePart(sanitizeFileNamePart(tester)) + QStringLiteral("][") + stamp +
           QStringLiteral("].txt");
}
