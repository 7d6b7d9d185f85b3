#include "database/RunEngineDatabaseLink.h"

#include "engine/RunEngine.h"
#include "results/RunRecord.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QUuid>

Q_DECLARE_LOGGING_CATEGORY(lcDatabase)

namespace {

// The record the engine last wrote for its run, wherever the run's results went.
QJsonObject writtenRecord(const RunOutcome &outcome)
{
    return RunRecord::read(outcome.recoveryFile.isEmpty() ? outcome.resultFile
                                                          : outcome.recoveryFile);
}

} // namespace

RunEngineDatabaseLink::RunEngineDatabaseLink(RunEngine *engine, std::unique_ptr<DatabaseSink> sink,
                                             const QString &runId, QObject *parent)
    : QObject(parent), databaseSink(std::move(sink)), engine(engine)
{
    runClock.start();
    const RunOutcome &outcome = engine->outcome();
    if (!engine->isRunning() || outcome.resultFile.isEmpty())
        return;
    const QJsonObject record = writtenRecord(outcome);
    const QString id = record.value(QStringLiteral("runId")).toString(runId);
    databaseSink->runStarted(id, record);
    started = true;
    connect(engine, &RunEngine::valueSent, this, &RunEngineDatabaseLink::valueSent);
    connect(engine, &RunEngine::readingTaken, this, &RunEngineDatabaseLink::readingTaken);
    connect(engine, &RunEngine::stepFinished, this, &RunEngineDatabaseLink::stepFinished);
    connect(engine, &RunEngine::runEnded, this, &RunEngineDatabaseLink::runEnded);
}

RunEngineDatabaseLink::~RunEngineDatabaseLink() = default;

std::unique_ptr<RunEngineDatabaseLink> RunEngineDatabaseLink::attach(RunEngine *engine,
                                                                     const QString &url)
{
    // A run refused before its result file existed has nothing to store.
    if (url.isEmpty() || !engine->isRunning())
        return nullptr;
    QString error;
    const DatabaseUrl parsed = DatabaseUrl::parse(url, &error);
    if (parsed.isEmpty()) {
        qCWarning(lcDatabase).noquote() << QStringLiteral("database: ") + error;
        return nullptr;
    }
    return std::make_unique<RunEngineDatabaseLink>(
        engine, std::make_unique<DatabaseSink>(parsed),
        QUuid::createUuid().toString(QUuid::WithoutBraces));
}

void RunEngineDatabaseLink::valueSent(qint64 step, qint32 value)
{
    row = DatabaseRow();
    row.step = step;
    row.code = value;
}

void RunEngineDatabaseLink::readingTaken(qint64 step, qint64, const QString &cell)
{
    if (step == row.step)
        row.cells.append(cell);
}

void RunEngineDatabaseLink::stepFinished(qint64 step)
{
    if (step != row.step)
        return;
    row.wallMs = QDateTime::currentMSecsSinceEpoch();
    row.monotonicMs = runClock.elapsed();
    databaseSink->rowCompleted(row);
    row = DatabaseRow();
}

void RunEngineDatabaseLink::runEnded(const RunOutcome &outcome)
{
    if (!started)
        return;
    started = false;
    databaseSink->runEnded(writtenRecord(outcome));
}
