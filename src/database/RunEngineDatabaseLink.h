#pragma once

#include "database/DatabaseSink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

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

private:
    void recordChanged(const RunRecord &record);
    void rowWritten(qint64 step, qint32 value, const QStringList &cells);

    std::unique_ptr<DatabaseSink> databaseSink;
    QElapsedTimer runClock;
    bool started = false;
    bool ended = false;
};
