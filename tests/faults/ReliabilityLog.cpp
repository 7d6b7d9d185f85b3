#include "ReliabilityLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Tabs and line ends would break the record; the table shows them escaped.
QString field(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return text;
}

} // namespace

QString ReliabilityLog::filePath()
{
    QString dir = qEnvironmentVariable("BENCHTEST_RELIABILITY_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral(BENCHTEST_BINARY_DIR "/reliability");
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') +
           QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
           QStringLiteral(".tsv");
}

void ReliabilityLog::begin()
{
    QFile::remove(filePath());
}

void ReliabilityLog::add(const QString &group, const QString &caseName, const QString &did,
                         const QString &onDisk)
{
    QFile file(filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QString line = QStringList{field(group), field(caseName), field(did), field(onDisk)}.join(
                             QLatin1Char('\t')) +
                         QLatin1Char('\n');
    file.write(line.toUtf8());
}
