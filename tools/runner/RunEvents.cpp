#include "tools/runner/RunEvents.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <cmath>

RunEvents::RunEvents(std::FILE *out) : out(out)
{
    sinceStart.start();
    clock.monotonicMs = [this] {
        return sinceStart.elapsed();
    };
    clock.wallTime = [] {
        return QDateTime::currentDateTimeUtc();
    };
}

RunEvents::RunEvents(std::FILE *out, Clock clock) : out(out), clock(std::move(clock)) {}

QJsonValue RunEvents::measurement(const QString &cell)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(cell, &ok);
    if (!ok || !std::isfinite(value) || std::fabs(value) >= 9.9e37)
        return QJsonValue::Null;
    return value;
}

void RunEvents::plan(const QJsonObject &plan)
{
    emitEvent(QStringLiteral("plan"), {{QStringLiteral("plan"), plan}});
}

void RunEvents::start(const QJsonObject &plan, const QJsonObject &identities,
                      const QString &resultFile)
{
    emitEvent(QStringLiteral("start"), {{QStringLiteral("plan"), plan},
                                        {QStringLiteral("identities"), identities},
                                        {QStringLiteral("resultFile"), resultFile}});
}

void RunEvents::step(qint64 step, qint64 code, const QStringList &readings,
                     const std::optional<QString> &supplyReading)
{
    QJsonArray values;
    for (const QString &cell : readings)
        values.append(measurement(cell));
    QJsonObject fields{{QStringLiteral("step"), step},
                       {QStringLiteral("code"), code},
                       {QStringLiteral("readings"), QJsonArray::fromStringList(readings)},
                       {QStringLiteral("values"), values}};
    if (supplyReading) {
        fields.insert(QStringLiteral("supplyReading"), *supplyReading);
        fields.insert(QStringLiteral("supplyValue"), measurement(*supplyReading));
    }
    emitEvent(QStringLiteral("step"), fields);
}

void RunEvents::fault(const QString &message, qint64 step)
{
    emitEvent(QStringLiteral("fault"),
              {{QStringLiteral("message"), message}, {QStringLiteral("step"), step}});
}

void RunEvents::end(const QString &status, bool clean, const QJsonObject &counts,
                    const QString &summary, int exitStatus, const QString &resultFile,
                    const QString &recordFile)
{
    const auto pathOrNull = [](const QString &path) {
        return path.isEmpty() ? QJsonValue() : QJsonValue(path);
    };
    emitEvent(QStringLiteral("end"), {{QStringLiteral("status"), status},
                                      {QStringLiteral("clean"), clean},
                                      {QStringLiteral("counts"), counts},
                                      {QStringLiteral("summary"), summary},
                                      {QStringLiteral("exitStatus"), exitStatus},
                                      {QStringLiteral("resultFile"), pathOrNull(resultFile)},
                                      {QStringLiteral("recordFile"), pathOrNull(recordFile)}});
}

void RunEvents::emitEvent(const QString &name, QJsonObject fields)
{
    fields.insert(QStringLiteral("event"), name);
    fields.insert(QStringLiteral("seq"), sequence);
    fields.insert(QStringLiteral("t"), clock.monotonicMs());
    fields.insert(QStringLiteral("wallTime"), clock.wallTime().toUTC().toString(Qt::ISODateWithMs));
    if (sequence == 0)
        fields.insert(QStringLiteral("schemaVersion"), kSchemaVersion);
    ++sequence;
    // Compact JSON holds no line break: one event, one line.
    const QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
    const bool whole =
        std::fwrite(line.constData(), 1, size_t(line.size()), out) == size_t(line.size());
    written = written && whole && std::fflush(out) == 0;
}
