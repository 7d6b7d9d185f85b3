#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the lab's database has of a run, as its sink found it once it had settled after
// the run's end. Part of the run's outcome and of its record, never of "clean": the result
// file is the run's primary record.
struct DatabaseResult
{
    QString url;           // the database, as shown to people (no password)
    bool complete = false; // the start, every row and the end of the run are stored
    qint64 rowsTaken = 0;  // rows the run handed over
    qint64 rowsStored = 0; // of them, stored in the database
    qint64 rowsLost = 0;   // neither stored nor journaled (both the server and the disk failed)
    QString journal;       // where the rows not stored wait for a sync; empty when none is left
    QString error;         // the last failure, for people

    [[nodiscard]] qint64 rowsPending() const { return rowsTaken - rowsStored; }
    // One line for people: "the database has the whole run (25 rows)", else "database
    // incomplete: " and what it lacks, where that waits and why.
    [[nodiscard]] QString summary() const;
    // Also carries rowsPending() and summary(), which fromJson() works out again.
    [[nodiscard]] QJsonObject toJson() const;
    [[nodiscard]] static DatabaseResult fromJson(const QJsonObject &json);
};

// How a run was made and how it ended: the record a run leaves beside its
// result file as "<name>.json". Every field has one name in the JSON form;
// fromJson() reads records of every schema version written so far (fields a
// version did not have keep their defaults).
struct RunRecord
{
    // 3: the supply, the effective plan and the supply's counts, the
    // database part, the segments of a resumed run.
    static constexpr int kSchemaVersion = 3;

    struct Parameters
    {
        qint64 steps = 0;
        qint64 settleMs = 0;
        qint64 readingsPerStep = 0;
        qint64 readingIntervalMs = 0;
    };

    struct Meter
    {
        QString resource;
        QString identity; // empty: the meter did not answer
        QStringList setup;
    };

    // The bench supply that powered the board, as set up for the run.
    struct Supply
    {
        QString resource;
        QString identity; // empty: the supply did not answer
        qint64 channel = 1;
        double voltage = 0;      // V
        double currentLimit = 0; // A
        bool readsCurrent = false;
    };

    struct Outcome
    {
        QString status = QStringLiteral("running"); // running, finished, stopped, failed
        QString stoppedBy;                          // for a stopped run: who stopped it
        bool clean = false;
        QString summary;
        qint64 stepsPlanned = 0;
        qint64 stepsDone = 0;
        qint64 readings = 0;
        qint64 errCells = 0;
        qint64 notMeasurements = 0;
        qint64 valuesNotSent = 0;
        qint64 piecesNotWritten = 0;
        qint64 recordWritesFailed = 0;
        // Supply current cells that are ERR or no measurement.
        qint64 supplyNotMeasured = 0;
        // The supply's output could not be confirmed off at the end.
        bool supplyLeftOn = false;
    };

    // One stretch of a run that was resumed: each start of the run, from the
    // first to the resumed ones, with the steps whose rows it wrote. A run
    // never resumed has none.
    struct Segment
    {
        QDateTime started;
        QDateTime ended;     // invalid: never recorded (the process was killed)
        qint64 firstStep = 1;
        qint64 lastStep = 0; // the last step with a whole row
        QString endedAs;     // finished, stopped, failed, interrupted (its record never ended)
        QString stoppedBy;
        QString cut; // a row begun and cut back from the file when the run was resumed
    };

    int schemaVersion = kSchemaVersion;
    QString runId; // unique per run
    QString software;
    QString test; // "DAC" or "ISINK"
    QString testName;
    QString testItem;
    QString tester;
    QStringList parametersTyped;
    Parameters parametersUsed;
    Meter meter;
    QString serialDevice;         // empty: none
    std::optional<Supply> supply; // none: the run drove no supply
    // The effective plan the run was given (the runner's RunPlan::toJson());
    // empty for a run started at the window.
    QJsonObject plan;
    QString resultFile;
    // Where the run went on once its own file could not take it; empty while it did.
    QString recoveryFile;
    // Set in the record beside the run's first file once the run has moved
    // on to its recovery file: read the rest of the story there.
    QString continuedIn;
    QDateTime started; // wall clock, as the file's stamps
    QDateTime ended;
    // The run's length on the monotonic clock, which no clock change moves;
    // -1 while it runs.
    qint64 durationMs = -1;
    Outcome outcome;
    QList<Segment> segments;
    // Added once the lab's database has settled after the run's end; none when the run had
    // no database, or its program ended first (its journal and the database then tell).
    std::optional<DatabaseResult> database;

    [[nodiscard]] bool hasEnded() const { return outcome.status != QLatin1String("running"); }

    [[nodiscard]] QJsonObject toJson() const;
    // A record from its JSON form; nullopt for an object that is no record
    // (no outcome, or a schema from the future).
    [[nodiscard]] static std::optional<RunRecord> fromJson(const QJsonObject &json);

    // "<folder>/<name>.json" for "<folder>/<name>.txt".
    [[nodiscard]] static QString pathFor(const QString &resultFile);
    // The record beside a result file, if it has a readable one.
    [[nodiscard]] static std::optional<RunRecord> readBeside(const QString &resultFile);
    // A new run id.
    [[nodiscard]] static QString newRunId();
};
