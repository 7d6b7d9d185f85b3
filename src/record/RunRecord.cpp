#include "record/RunRecord.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ISO 8601 with the offset from UTC, so that a record read elsewhere keeps its moment.
QJsonValue isoTime(const QDateTime &time)
{
    if (!time.isValid())
        return QJsonValue();
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

QDateTime timeFrom(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODate);
}

// Empty texts are written as null: "no identity", "no serial device".
QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QStringList textsFrom(const QJsonValue &value)
{
    QStringList texts;
    for (const QJsonValue &item : value.toArray())
        texts.append(item.toString());
    return texts;
}

// A record is read back from disk, where anything may have been written:
// larger files are not taken.
constexpr qint64 kMaxRecordBytes = 1024 * 1024;

} // namespace

QString DatabaseResult::summary() const
{
    if (complete)
        return QStringLiteral("the database has the whole run (%1 rows)").arg(rowsStored);
    QString text = QStringLiteral("database incomplete: it lacks %1 of %2 rows or the run's end")
                       .arg(rowsPending())
                       .arg(rowsTaken);
    if (!journal.isEmpty())
        text += QStringLiteral("; they wait in %1").arg(journal);
    if (rowsLost > 0)
        text +=
            QStringLiteral("; %1 rows reached neither the database nor the journal").arg(rowsLost);
    if (!error.isEmpty())
        text += QStringLiteral(" (%1)").arg(error);
    return text;
}

QJsonObject DatabaseResult::toJson() const
{
    return {{QStringLiteral("url"), url},
            {QStringLiteral("complete"), complete},
            {QStringLiteral("rowsTaken"), rowsTaken},
            {QStringLiteral("rowsStored"), rowsStored},
            {QStringLiteral("rowsPending"), rowsPending()},
            {QStringLiteral("rowsLost"), rowsLost},
            {QStringLiteral("journal"), textOrNull(journal)},
            {QStringLiteral("error"), textOrNull(error)},
            {QStringLiteral("summary"), summary()}};
}

DatabaseResult DatabaseResult::fromJson(const QJsonObject &json)
{
    DatabaseResult result;
    result.url = json.value(QStringLiteral("url")).toString();
    result.complete = json.value(QStringLiteral("complete")).toBool();
    result.rowsTaken = json.value(QStringLiteral("rowsTaken")).toInteger();
    result.rowsStored = json.value(QStringLiteral("rowsStored")).toInteger();
    result.rowsLost = json.value(QStringLiteral("rowsLost")).toInteger();
    result.journal = json.value(QStringLiteral("journal")).toString();
    result.error = json.value(QStringLiteral("error")).toString();
    return result;
}

QJsonObject RunRecord::toJson() const
{
    const QJsonObject used{{QStringLiteral("steps"), parametersUsed.steps},
                           {QStringLiteral("settleMs"), parametersUsed.settleMs},
                           {QStringLiteral("readingsPerStep"), parametersUsed.readingsPerStep},
                           {QStringLiteral("readingIntervalMs"), parametersUsed.readingIntervalMs}};
    const QJsonObject meterJson{{QStringLiteral("resource"), meter.resource},
                                {QStringLiteral("identity"), textOrNull(meter.identity)},
                                {QStringLiteral("setup"), QJsonArray::fromStringList(meter.setup)}};
    QJsonObject outcomeJson{{QStringLiteral("status"), outcome.status}};
    if (hasEnded()) {
        outcomeJson.insert(QStringLiteral("clean"), outcome.clean);
        outcomeJson.insert(QStringLiteral("summary"), outcome.summary);
        if (!outcome.stoppedBy.isEmpty())
            outcomeJson.insert(QStringLiteral("stoppedBy"), outcome.stoppedBy);
        outcomeJson.insert(QStringLiteral("stepsPlanned"), outcome.stepsPlanned);
        outcomeJson.insert(QStringLiteral("stepsDone"), outcome.stepsDone);
        outcomeJson.insert(QStringLiteral("readings"), outcome.readings);
        outcomeJson.insert(QStringLiteral("errCells"), outcome.errCells);
        outcomeJson.insert(QStringLiteral("notMeasurements"), outcome.notMeasurements);
        outcomeJson.insert(QStringLiteral("valuesNotSent"), outcome.valuesNotSent);
        outcomeJson.insert(QStringLiteral("piecesNotWritten"), outcome.piecesNotWritten);
        outcomeJson.insert(QStringLiteral("recordWritesFailed"), outcome.recordWritesFailed);
        outcomeJson.insert(QStringLiteral("supplyNotMeasured"), outcome.supplyNotMeasured);
        outcomeJson.insert(QStringLiteral("supplyLeftOn"), outcome.supplyLeftOn);
    }
    QJsonValue supplyJson;
    if (supply)
        supplyJson = QJsonObject{{QStringLiteral("resource"), supply->resource},
                                 {QStringLiteral("identity"), textOrNull(supply->identity)},
                                 {QStringLiteral("channel"), supply->channel},
                                 {QStringLiteral("voltage"), supply->voltage},
                                 {QStringLiteral("currentLimit"), supply->currentLimit},
                                 {QStringLiteral("readsCurrent"), supply->readsCurrent}};
    QJsonObject json{
        {QStringLiteral("schemaVersion"), schemaVersion},
        {QStringLiteral("runId"), runId},
        {QStringLiteral("software"), software},
        {QStringLiteral("test"), test},
        {QStringLiteral("testName"), testName},
        {QStringLiteral("testItem"), testItem},
        {QStringLiteral("tester"), tester},
        {QStringLiteral("parametersTyped"), QJsonArray::fromStringList(parametersTyped)},
        {QStringLiteral("parametersUsed"), used},
        {QStringLiteral("meter"), meterJson},
        {QStringLiteral("serialDevice"), textOrNull(serialDevice)},
        {QStringLiteral("supply"), supplyJson},
        {QStringLiteral("plan"), plan.isEmpty() ? QJsonValue() : QJsonValue(plan)},
        {QStringLiteral("resultFile"), resultFile},
        {QStringLiteral("recoveryFile"), textOrNull(recoveryFile)},
        {QStringLiteral("started"), isoTime(started)},
        {QStringLiteral("ended"), isoTime(ended)},
        {QStringLiteral("durationMs"), durationMs < 0 ? QJsonValue() : QJsonValue(durationMs)},
        {QStringLiteral("outcome"), outcomeJson}};
    if (!continuedIn.isEmpty())
        json.insert(QStringLiteral("continuedIn"), continuedIn);
    if (!segments.isEmpty()) {
        QJsonArray parts;
        for (const Segment &segment : segments) {
            QJsonObject part{{QStringLiteral("started"), isoTime(segment.started)},
                             {QStringLiteral("ended"), isoTime(segment.ended)},
                             {QStringLiteral("firstStep"), segment.firstStep},
                             {QStringLiteral("lastStep"), segment.lastStep},
                             {QStringLiteral("endedAs"), textOrNull(segment.endedAs)}};
            if (!segment.stoppedBy.isEmpty())
                part.insert(QStringLiteral("stoppedBy"), segment.stoppedBy);
            if (!segment.cut.isEmpty())
                part.insert(QStringLiteral("cut"), segment.cut);
            parts.append(part);
        }
        json.insert(QStringLiteral("segments"), parts);
    }
    if (database)
        json.insert(QStringLiteral("database"), database->toJson());
    return json;
}

std::optional<RunRecord> RunRecord::fromJson(const QJsonObject &json)
{
    const QJsonObject outcomeJson = json.value(QStringLiteral("outcome")).toObject();
    // The first records had no version: they are version 1.
    const int version = json.value(QStringLiteral("schemaVersion")).toInt(1);
    if (outcomeJson.isEmpty() || version < 1 || version > kSchemaVersion)
        return std::nullopt;

    RunRecord record;
    record.schemaVersion = version;
    record.runId = json.value(QStringLiteral("runId")).toString();
    record.software = json.value(QStringLiteral("software")).toString();
    record.test = json.value(QStringLiteral("test")).toString();
    record.testName = json.value(QStringLiteral("testName")).toString();
    record.testItem = json.value(QStringLiteral("testItem")).toString();
    record.tester = json.value(QStringLiteral("tester")).toString();
    record.parametersTyped = textsFrom(json.value(QStringLiteral("parametersTyped")));
    const QJsonObject used = json.value(QStringLiteral("parametersUsed")).toObject();
    record.parametersUsed.steps = used.value(QStringLiteral("steps")).toInteger();
    record.parametersUsed.settleMs = used.value(QStringLiteral("settleMs")).toInteger();
    record.parametersUsed.readingsPerStep =
        used.value(QStringLiteral("readingsPerStep")).toInteger();
    record.parametersUsed.readingIntervalMs =
        used.value(QStringLiteral("readingIntervalMs")).toInteger();
    const QJsonObject meterJson = json.value(QStringLiteral("meter")).toObject();
    record.meter.resource = meterJson.value(QStringLiteral("resource")).toString();
    record.meter.identity = meterJson.value(QStringLiteral("identity")).toString();
    record.meter.setup = textsFrom(meterJson.value(QStringLiteral("setup")));
    record.serialDevice = json.value(QStringLiteral("serialDevice")).toString();
    const QJsonValue supplyJson = json.value(QStringLiteral("supply"));
    if (supplyJson.isObject()) {
        const QJsonObject object = supplyJson.toObject();
        Supply supply;
        supply.resource = object.value(QStringLiteral("resource")).toString();
        supply.identity = object.value(QStringLiteral("identity")).toString();
        supply.channel = object.value(QStringLiteral("channel")).toInteger(1);
        supply.voltage = object.value(QStringLiteral("voltage")).toDouble();
        supply.currentLimit = object.value(QStringLiteral("currentLimit")).toDouble();
        supply.readsCurrent = object.value(QStringLiteral("readsCurrent")).toBool();
        record.supply = supply;
    }
    record.plan = json.value(QStringLiteral("plan")).toObject();
    record.resultFile = json.value(QStringLiteral("resultFile")).toString();
    record.recoveryFile = json.value(QStringLiteral("recoveryFile")).toString();
    record.continuedIn = json.value(QStringLiteral("continuedIn")).toString();
    record.started = timeFrom(json.value(QStringLiteral("started")));
    record.ended = timeFrom(json.value(QStringLiteral("ended")));
    for (const QJsonValue &value : json.value(QStringLiteral("segments")).toArray()) {
        const QJsonObject part = value.toObject();
        Segment segment;
        segment.started = timeFrom(part.value(QStringLiteral("started")));
        segment.ended = timeFrom(part.value(QStringLiteral("ended")));
        segment.firstStep = part.value(QStringLiteral("firstStep")).toInteger(1);
        segment.lastStep = part.value(QStringLiteral("lastStep")).toInteger();
        segment.endedAs = part.value(QStringLiteral("endedAs")).toString();
        segment.stoppedBy = part.value(QStringLiteral("stoppedBy")).toString();
        segment.cut = part.value(QStringLiteral("cut")).toString();
        record.segments.append(segment);
    }
    record.durationMs = json.value(QStringLiteral("durationMs")).toInteger(-1);
    const QJsonValue database = json.value(QStringLiteral("database"));
    if (database.isObject())
        record.database = DatabaseResult::fromJson(database.toObject());

    Outcome &outcome = record.outcome;
    outcome.status = outcomeJson.value(QStringLiteral("status")).toString();
    outcome.clean = outcomeJson.value(QStringLiteral("clean")).toBool();
    outcome.summary = outcomeJson.value(QStringLiteral("summary")).toString();
    outcome.stoppedBy = outcomeJson.value(QStringLiteral("stoppedBy")).toString();
    outcome.stepsPlanned = outcomeJson.value(QStringLiteral("stepsPlanned")).toInteger();
    outcome.stepsDone = outcomeJson.value(QStringLiteral("stepsDone")).toInteger();
    outcome.readings = outcomeJson.value(QStringLiteral("readings")).toInteger();
    outcome.errCells = outcomeJson.value(QStringLiteral("errCells")).toInteger();
    outcome.notMeasurements = outcomeJson.value(QStringLiteral("notMeasurements")).toInteger();
    outcome.valuesNotSent = outcomeJson.value(QStringLiteral("valuesNotSent")).toInteger();
    outcome.piecesNotWritten = outcomeJson.value(QStringLiteral("piecesNotWritten")).toInteger();
    outcome.recordWritesFailed =
        outcomeJson.value(QStringLiteral("recordWritesFailed")).toInteger();
    outcome.supplyNotMeasured = outcomeJson.value(QStringLiteral("supplyNotMeasured")).toInteger();
    outcome.supplyLeftOn = outcomeJson.value(QStringLiteral("supplyLeftOn")).toBool();
    return record;
}

QString RunRecord::pathFor(const QString &resultFile)
{
    if (resultFile.isEmpty())
        return QString(); // no file, no record: never a ".json" in the working folder
    const QFileInfo info(resultFile);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".json");
}

std::optional<RunRecord> RunRecord::readBeside(const QString &resultFile)
{
    // Opened without blocking and read only when it is a regular file: a FIFO
    // or a device planted under the record's name must not hang the reader.
    const int fd = ::open(QFile::encodeName(pathFor(resultFile)).constData(),
                          O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat status
    {};
    QByteArray bytes;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kMaxRecordBytes) {
        bytes.resize(qsizetype(status.st_size));
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t count = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
            if (count <= 0)
                break;
            done += count;
        }
        bytes.truncate(done);
    }
    ::close(fd);
    return fromJson(QJsonDocument::fromJson(bytes).object());
}

QString RunRecord::newRunId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}
