#include "database/RunEngineDatabaseLink.h"

#include "engine/RunEngine.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QUuid>

Q_DECLARE_LOGGING_CATEGORY(lcDatabase)

RunEngineDatabaseLink::RunEngineDatabaseLink(RunEngine *engine, std::unique_ptr<DatabaseSink> sink,
                                             const QString &runId, QObject *parent)
    : QObject(parent), databaseSink(std::move(sink)), engine(engine)
{
    runClock.start();
    const RunOutcome &outcome = engine->outcome();
    if (!engine->isRunning() || outcome.resultFile.isEmpty())
        return;
    const QJsonObject record = engine->runRecord().toJson();
    const QString id = engine->runRecord().runId.isEmpty() ? runId : engine->runRecord().runId;
    databaseSink->runStarted(id, record);
    started = true;
    connect(engine, &RunEngine::rowWritten, this, &RunEngineDatabaseLink::rowWritten);
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

// Rows go in as the file has them: a reading the meter disowned is ERR here too.
void RunEngineDatabaseLink::rowWritten(qint64 step, qint32 value, const QStringList &cells)
{
    DatabaseRow row;
    row.step = step;
    row.code = value;
    row.cells = cells;
    row.wallMs = QDateTime::currentMSecsSinceEpoch();
    row.monotonicMs = runClock.elapsed();
    databaseSink->rowCompleted(row);
}

void RunEngineDatabaseLink::runEnded(const RunOutcome &outcome)
{
    if (!started)
        return;
    started = false;
    Q_UNUSED(outcome);
    databaseSink->runEnded(engine ? engine->runRecord().toJson() : QJsonObject());
}
