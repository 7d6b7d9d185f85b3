#pragma once

#include "database/DatabaseSink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <memory>

class RunEngine;
struct RunOutcome;

// Feeds one run of a RunEngine into a DatabaseSink: the run's record at the start, each
// row as it went into the result file (its code, its cells, when), the final record when
// the run ends. Everything the run's thread does here is queueing: the sink does the
// rest on its own threads. Lives on the engine's thread.
class RunEngineDatabaseLink : public QObject
{
    Q_OBJECT

public:
    // For a run the engine has just started. `runId` names the run when its record does
    // not ("runId"). The link owns the sink; a run refused before its result file existed
    // is not sent.
    RunEngineDatabaseLink(RunEngine *engine, std::unique_ptr<DatabaseSink> sink,
                          const QString &runId, QObject *parent = nullptr);
    ~RunEngineDatabaseLink() override;

    // The link the configuration asks for, for a run the engine has just started: none
    // when `url` is empty or the run was refused; a bad URL is logged and gives none.
    static std::unique_ptr<RunEngineDatabaseLink> attach(RunEngine *engine, const QString &url);

    [[nodiscard]] DatabaseSink &sink() { return *databaseSink; }

private:
    void rowWritten(qint64 step, qint32 value, const QStringList &cells);
    void runEnded(const RunOutcome &outcome);

    std::unique_ptr<DatabaseSink> databaseSink;
    QPointer<RunEngine> engine;
    QElapsedTimer runClock;
    bool started = false;
};
