#pragma once

#include "record/RunRecord.h"
#include "report/LiveSweep.h"
#include "report/ResultFileFollower.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

// Follows one run as it is written: its result file, and on into the recovery file its record
// names when the file could not take the rest, until the run is over: its end line is read, or
// its record says it ended without one (stopped, failed). Works on a run still going or one
// long finished. The files are polled: a row is read about kPollMs after its line end is
// written at the latest, and updated() comes at most every kMinUpdateGapMs however fast rows
// come (also while a long file is caught up with). Only the per-code figures are kept.
class LiveRun : public QObject
{
    Q_OBJECT

public:
    enum class Phase
    {
        Waiting,   // the result file is not there yet
        Following, // reading as the run writes
        Ended      // the run is over (or its file was refused: error())
    };

    static constexpr int kPollMs = 250;
    // Below kPollMs, so that a round of the timer, which may come a little early, never waits.
    static constexpr int kMinUpdateGapMs = 200;
    // Reading time per poll, so that a long file being caught up with keeps a window answering.
    static constexpr int kReadBudgetMs = 100;

    explicit LiveRun(const QString &resultFile, QObject *parent = nullptr);
    ~LiveRun() override;

    // Polls from now on, the first time at once.
    void start();
    // One round: the record, the bytes appended, the switch to a recovery file, the end.
    void poll();

    Phase phase() const { return m_phase; }
    // Why the run's file could not be read to its end; empty when it could.
    QString error() const { return m_error; }
    const LiveSweep &sweep() const { return m_sweep; }
    // The run's result file, then each recovery file it went on in, in the order followed.
    QStringList files() const { return m_files; }
    // What the run's record said at the last poll; none for a file without a record (an older
    // file, a copy), which is followed to its end line alone.
    const std::optional<RunRecord> &record() const { return m_record; }
    // The run's end line was read.
    bool endLineRead() const { return m_endLine; }

    // Where the run of `record` went on when its file could not take the rest; empty while
    // its file took it all.
    static QString continuation(const RunRecord &record);

signals:
    // Rows were read or the run's state changed.
    void updated();
    // The run is over; phase() is Ended. Comes after the last updated().
    void ended();

private:
    void follow(const QString &file);
    bool isFollowed(const QString &file) const;
    std::optional<RunRecord> readRecord() const;
    void end(const QString &error = QString());

    QStringList m_files;
    std::unique_ptr<ResultFileFollower> m_follower; // of the last file in m_files
    LiveSweep m_sweep;
    std::optional<RunRecord> m_record;
    QTimer m_timer;
    QElapsedTimer m_sinceUpdate;
    Phase m_phase = Phase::Waiting;
    QString m_error;
    bool m_endLine = false;
    bool m_changed = false; // since the last updated()
};
