#include "ResultFile.h"

#include <QFile>

ResultFile ResultFile::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ResultFile();
    return parse(file.readAll());
}

ResultFile ResultFile::parse(const QByteArray &bytes)
{
    ResultFile file;
    file.exists = true;
    file.size = bytes.size();
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    const bool endsWithLineEnd = lines.last().isEmpty();
    if (endsWithLineEnd)
        lines.removeLast();

    int i = 0;
    for (; i < lines.size() && i < 5; ++i)
        file.head << lines[i];
    if (i < lines.size() && lines[i].startsWith(QLatin1String("No.\t")))
        file.heading = lines[i++];
    for (; i < lines.size(); ++i) {
        const QString &line = lines[i];
        if (line.isEmpty() && i + 1 < lines.size() &&
            lines[i + 1].startsWith(QStringLiteral("完成时间: ["))) {
            file.finished = true;
            i += 2;
            break;
        }
        const QStringList cells = line.split(QLatin1Char('\t'));
        bool numbered = false;
        cells.first().toLongLong(&numbered);
        if (!numbered || cells.size() < 2) {
            file.stray << line;
            continue;
        }
        file.rows << cells;
        file.lastRowOpen = i == lines.size() - 1 && !endsWithLineEnd;
    }
    for (; i < lines.size(); ++i)
        file.stray << lines[i];
    return file;
}

QStringList ResultFile::readings() const
{
    QStringList cells;
    for (const QStringList &row : rows)
        cells += row.mid(2);
    return cells;
}

int ResultFile::errCount() const
{
    return int(readings().count(QStringLiteral("ERR")));
}

QString ResultFile::describe() const
{
    if (!exists)
        return QStringLiteral("no result file");
    QStringList parts;
    parts << (head.size() == 5 ? QStringLiteral("head block")
                               : QStringLiteral("%1 of 5 head lines").arg(head.size()));
    if (!heading.isEmpty())
        parts << QStringLiteral("column heading");
    const int count = int(readings().size());
    QString body = QStringLiteral("%1 row%2").arg(rows.size()).arg(rows.size() == 1 ? "" : "s");
    if (!rows.isEmpty()) {
        body += QStringLiteral(" (%1 reading%2").arg(count).arg(count == 1 ? "" : "s");
        if (errCount() > 0)
            body += QStringLiteral(", %1 ERR").arg(errCount());
        body += QLatin1Char(')');
    }
    parts << body;
    if (lastRowOpen)
        parts << QStringLiteral("last row open");
    parts << (finished ? QStringLiteral("end line") : QStringLiteral("no end line"));
    if (!stray.isEmpty())
        parts << QStringLiteral("%1 stray line%2")
                     .arg(stray.size())
                     .arg(stray.size() == 1 ? "" : "s");
    return parts.join(QStringLiteral(", "));
}
