#include "results/RunRecord.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

// ISO 8601 with the offset from UTC, so that a record read elsewhere keeps its moment.
QString isoTime(const QDateTime &time)
{
    return time.isValid() ? time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate)
                          : QString();
}

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

QString RunRecord::pathFor(const QString &resultFile)
{
    const QFileInfo info(resultFile);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".json");
}

bool RunRecord::write(const QString &resultFile, const QString &fallbackFile)
{
    QJsonObject record = fields;
    record.insert(QStringLiteral("started"), isoTime(started));
    record.insert(QStringLiteral("ended"),
                  ended.isValid() ? QJsonValue(isoTime(ended)) : QJsonValue());
    const QByteArray bytes = QJsonDocument(record).toJson();
    for (const QString &beside : {resultFile, fallbackFile}) {
        if (beside.isEmpty())
            continue;
        const QString path = pathFor(beside);
        if (writeWhole(path, bytes)) {
            written = path;
            return true;
        }
    }
    return false;
}

QJsonObject RunRecord::read(const QString &resultFile)
{
    QFile file(pathFor(resultFile));
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024)
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}
