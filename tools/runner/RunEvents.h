#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <optional>

// The runner's output for machines (docs/events.md): one JSON object per
// line, written and flushed at once, so that a test executive reads each
// event as it happens. Every event carries "event", "seq" (0, 1, 2, … within
// the stream), "t" (ms on the monotonic clock since the stream began) and
// "wallTime" (UTC, ISO 8601 with milliseconds); the first carries
// "schemaVersion". A reader that went away costs the run nothing: writes
// then fail quietly.
class RunEvents
{
public:
    // Raised when a field is added, renamed or changes its meaning.
    // 2: a step's supply current, the end's files and more counts.
    static constexpr int kSchemaVersion = 2;

    struct Clock
    {
        std::function<qint64()> monotonicMs;
        std::function<QDateTime()> wallTime; // in UTC
    };

    // The default clock: a monotonic timer started here, and the system's UTC time.
    explicit RunEvents(std::FILE *out);
    RunEvents(std::FILE *out, Clock clock);
    RunEvents(const RunEvents &) = delete;
    RunEvents &operator=(const RunEvents &) = delete;

    // A dry run's only event: the effective plan, with its estimates.
    void plan(const QJsonObject &plan);
    // The run has its file and is about to send the first code.
    void start(const QJsonObject &plan, const QJsonObject &identities, const QString &resultFile);
    // One completed step: its number (from 1), the code sent, the reading
    // cells as the file holds them, and each as a number (null for ERR and
    // anything that is not a finite measurement); with `supplyReading` (the
    // supply current's cell, for a run that reads it) the same for it.
    void step(qint64 step, qint64 code, const QStringList &readings,
              const std::optional<QString> &supplyReading = std::nullopt);
    // Something that makes the record less than whole.
    void fault(const QString &message, qint64 step);
    // The run's end: its outcome ("finished", "stopped", "failed"), whether
    // it is clean, its counts, the status the runner exits with, and where
    // its result file and record are (null when none).
    void end(const QString &status, bool clean, const QJsonObject &counts, const QString &summary,
             int exitStatus, const QString &resultFile = QString(),
             const QString &recordFile = QString());

    // False once a line could not be written whole.
    bool allWritten() const { return written; }

    // A reading cell as a measurement: finite and below the meter's overload
    // value (9.9E37); nothing else is one.
    static QJsonValue measurement(const QString &cell);

private:
    void emitEvent(const QString &name, QJsonObject fields);

    std::FILE *out;
    Clock clock;
    QElapsedTimer sinceStart;
    qint64 sequence = 0;
    bool written = true;
};
