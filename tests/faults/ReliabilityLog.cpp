#include "ReliabilityLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// Tabs and line ends would break the record; the table shows them escaped.
// Folders, devices and times that change from run to run are replaced by
// placeholders, so that the table only changes when the behaviour does.
QString field(QString text)
{
    text.replace(QStringLiteral(BENCHTEST_BINARY_DIR), QStringLiteral("<build>"));
    text.replace(QRegularExpression(QRegularExpression::escape(QDir::tempPath()) +
                                    QStringLiteral("/[^/\"]+-[A-Za-z0-9]{6}")),
                 QStringLiteral("<tmp>"));
    text.replace(QRegularExpression(QStringLiteral("/dev/pts/\\d+")),
                 QStringLiteral("/dev/pts/<n>"));
    text.replace(QRegularExpression(QStringLiteral("\\[\\d{6} \\d{6}\\]")),
                 QStringLiteral("[<yyMMdd hhmmss>]"));
    text.replace(QRegularExpression(QStringLiteral("127\\.0\\.0\\.1::\\d+")),
                 QStringLiteral("127.0.0.1::<port>"));
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
