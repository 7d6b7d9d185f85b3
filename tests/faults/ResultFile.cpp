#include "tests/faults/ResultFile.h"

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
