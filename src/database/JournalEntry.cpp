#include "database/JournalEntry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

namespace {

const QString kKind = QStringLiteral("kind");
const QString kRun = QStringLiteral("runId");

} // namespace

QByteArray JournalEntry::toLine() const
{
    QJsonObject object{{kRun, runId}};
    switch (kind) {
    case Start:
        object.insert(kKind, QStringLiteral("start"));
        object.insert(QStringLiteral("record"), record);
        break;
    case End:
        object.insert(kKind, QStringLiteral("end"));
        object.insert(QStringLiteral("record"), record);
        object.insert(QStringLiteral("figures"), figures);
        break;
    case Row:
        object.insert(kKind, QStringLiteral("row"));
        object.insert(QStringLiteral("step"), row.step);
        object.insert(QStringLiteral("code"), row.code);
        object.insert(QStringLiteral("cells"), QJsonArray::fromStringList(row.cells));
        object.insert(QStringLiteral("wall"), row.wallMs);
        object.insert(QStringLiteral("mono"), row.monotonicMs);
        break;
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool JournalEntry::fromLine(QByteArrayView line, JournalEntry *entry)
{
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(line.toByteArray(), &error).object();
    if (error.error != QJsonParseError::NoError)
        return false;
    *entry = JournalEntry();
    entry->runId = object.value(kRun).toString();
    if (QUuid::fromString(entry->runId).isNull())
        return false;
    const QString kind = object.value(kKind).toString();
    if (kind == QLatin1String("row")) {
        entry->kind = Row;
        const QJsonValue step = object.value(QStringLiteral("step"));
        if (!step.isDouble())
            return false;
        entry->row.step = step.toInteger();
        entry->row.code = object.value(QStringLiteral("code")).toInteger();
        for (const QJsonValue &cell : object.value(QStringLiteral("cells")).toArray())
            entry->row.cells << cell.toString();
        entry->row.wallMs = object.value(QStringLiteral("wall")).toInteger();
        entry->row.monotonicMs = object.value(QStringLiteral("mono")).toInteger();
        return true;
    }
    entry->record = object.value(QStringLiteral("record")).toObject();
    if (kind == QLatin1String("start")) {
        entry->kind = Start;
        return true;
    }
    if (kind == QLatin1String("end")) {
        entry->kind = End;
        entry->figures = object.value(QStringLiteral("figures")).toObject();
        return true;
    }
    return false;
}
