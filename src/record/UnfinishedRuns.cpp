#include "record/UnfinishedRuns.h"

#include "record/RunRecord.h"

#include <QDir>
#include <QFileInfo>

QStringList unfinishedRuns(const QString &folder, int limit)
{
    QStringList found;
    const QFileInfoList records =
        QDir(folder).entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::Time);
    for (qsizetype i = 0; i < records.size() && i < limit; ++i) {
        const QString resultFile = records.at(i).path() + QLatin1Char('/') +
                                   records.at(i).completeBaseName() + QStringLiteral(".txt");
        if (!QFileInfo(resultFile).isFile())
            continue;
        const std::optional<RunRecord> record = RunRecord::readBeside(resultFile);
        if (!record || record->outcome.status == QLatin1String("finished") ||
            !record->recoveryFile.isEmpty() || !record->continuedIn.isEmpty())
            continue;
        found << resultFile;
    }
    return found;
}

QString resumeCommand(const QString &resultFile)
{
    QString quoted = resultFile;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QStringLiteral("benchtest-run --resume '%1'").arg(quoted);
}
