#pragma once

#include "database/DatabaseSink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

class RunEngine;
struct RunRecord;

// Feeds one run of a RunEngine into a DatabaseSink: the run's record when the
// engine first writes it, each row as it went into the result file (its code,
// its cells, when), the final record when the run ends. It takes everything
// from the engine's signals, so it may live on another thread than the
// engine's; all it does there is queue: the sink does the rest on its own
// threads. A run refused before its result file existed is not sent.
class RunEngineDatabaseLink : public QObject
{
    Q_OBJECT

public:
    // For a run of `engine` that has not started yet.
    RunEngineDatabaseLink(RunEngine *engine, std::unique_ptr<DatabaseSink> sink,
                          QObject *parent = nullptr);
    ~RunEngineDatabaseLink() override;

    // The link the configuration asks for: none when `url` is empty; a bad
    // URL is logged and gives none.
    static std::unique_ptr<RunEngineDatabaseLink> attach(RunEngine *engine, const QString &url);

    [[nodiscard]] DatabaseSink &sink() { return *databaseSink; }

    // How long after the run's end settled() waits for the sink at most.
    static constexpr int kSettleWaitMs = 10000;

signals:
    // After the run's end, once the sink has settled or kSettleWaitMs have passed, whichever
    // comes first; again should the database get the whole run later, while the link lives.
    // For the run's record: RunEngine::amendRecord().
    void settled(const DatabaseResult &result);

private:
    void recordChanged(const RunRecord &record);
    void rowWritten(qint64 step, qint32 value, const QStringList &cells);
    void tellSettled(const DatabaseResult &result);

    std::unique_ptr<DatabaseSink> databaseSink;
    QElapsedTimer runClock;
    QTimer settleWait;
    bool started = false;
    bool ended = false;
    bool toldSettled = false;
    bool toldComplete = false;
};
