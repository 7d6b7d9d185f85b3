#include "database/RunEngineDatabaseLink.h"

#include "engine/RunEngine.h"

#include <QDateTime>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDatabase)

RunEngineDatabaseLink::RunEngineDatabaseLink(RunEngine *engine, std::unique_ptr<DatabaseSink> sink,
                                             QObject *parent)
    : QObject(parent), databaseSink(std::move(sink))
{
    qRegisterMetaType<DatabaseResult>();
    settleWait.setSingleShot(true);
    connect(&settleWait, &QTimer::timeout, this, [this] { tellSettled(databaseSink->result()); });
    // The sink's threads hand the result over to this one.
    databaseSink->onSettled([this](const DatabaseResult &result) {
        QMetaObject::invokeMethod(
            this, [this, result] { tellSettled(result); }, Qt::QueuedConnection);
    });
    connect(engine, &RunEngine::recordChanged, this, &RunEngineDatabaseLink::recordChanged);
    connect(engine, &RunEngine::rowWritten, this, &RunEngineDatabaseLink::rowWritten);
}

RunEngineDatabaseLink::~RunEngineDatabaseLink()
{
    databaseSink->onSettled({});
}

std::unique_ptr<RunEngineDatabaseLink> RunEngineDatabaseLink::attach(RunEngine *engine,
                                                                     const QString &url)
{
    if (url.isEmpty())
        return nullptr;
    QString error;
    const DatabaseUrl parsed = DatabaseUrl::parse(url, &error);
    if (parsed.isEmpty()) {
        qCWarning(lcDatabase).noquote() << QStringLiteral("database: ") + error;
        return nullptr;
    }
    return std::make_unique<RunEngineDatabaseLink>(engine, std::make_unique<DatabaseSink>(parsed));
}

void RunEngineDatabaseLink::recordChanged(const RunRecord &record)
{
    if (!started) {
        started = true;
        runClock.start();
        databaseSink->runStarted(record.runId, record.toJson());
    }
    if (record.hasEnded() && !ended) {
        ended = true;
        databaseSink->runEnded(record.toJson());
        settleWait.start(kSettleWaitMs);
    }
}

// Rows go in as the file has them: a reading the meter disowned is ERR here too.
void RunEngineDatabaseLink::rowWritten(qint64 step, qint32 value, const QStringList &cells)
{
    if (!started || ended)
        return;
    DatabaseRow row;
    row.step = step;
    row.code = value;
    row.cells = cells;
    row.wallMs = QDateTime::currentMSecsSinceEpoch();
    row.monotonicMs = runClock.elapsed();
    databaseSink->rowCompleted(row);
}

void RunEngineDatabaseLink::tellSettled(const DatabaseResult &result)
{
    settleWait.stop();
    if (toldSettled && toldComplete == result.complete)
        return;
    toldSettled = true;
    toldComplete = result.complete;
    emit settled(result);
}
