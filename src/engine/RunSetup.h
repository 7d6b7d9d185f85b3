#pragma once

#include "engine/RunPorts.h"
#include "engine/TestKind.h"
#include "record/RunRecord.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QString>

#include <array>
#include <functional>

struct SerialConfig;

// The clocks a run reads: the monotonic clock, which no clock change moves,
// for its elapsed and remaining time and its duration; the wall clock for the
// file's and the record's time stamps. Tests pass clocks of their own.
struct RunClock
{
    std::function<qint64()> monotonicMs = [] {
        return QDeadlineTimer::current().deadline();
    };
    std::function<qint64()> epochMs = [] {
        return QDateTime::currentMSecsSinceEpoch();
    };
    std::function<QDateTime()> localTime = [] {
        return QDateTime::currentDateTime();
    };
};

// A run taken up again where it was interrupted. Its file keeps its first
// `keepBytes`: the head block, the heading and the whole rows of the steps
// before `firstStep`; the run goes on there, in the same file, under the
// same record, which gets a segment for each start.
struct RunResume
{
    QString resultFile; // empty: a new run
    qint64 keepBytes = 0;
    qint64 firstStep = 1;
    QString cut;             // what is cut back from the file: the row begun
    RunRecord earlier;       // the record as the interrupted run left it
    QByteArray earlierBytes; // its bytes on disk, which this run takes over
    // The meter's answer to *IDN? when the run began; empty: not checked.
    QString meterIdentity;
    // What the rows kept hold, for the run's counts.
    qint64 readings = 0;
    qint64 errCells = 0;
    qint64 notMeasurements = 0;
};

// Everything one run is given. The engine hands the addresses, the folder and
// the names on to the drivers and the result writer through TestContext,
// which is where they read them.
struct RunSetup
{
    const TestKind *kind = &dacTestKind();
    std::array<QString, 4> parameters; // steps, settle ms, readings per step, interval ms, as typed
    QString testName;                  // heads the result file
    QString testItem;
    QString tester;
    QString folder;                 // where the result file goes
    QString meterAddress;           // VISA resource of the multimeter
    SerialConfig *serial = nullptr; // the port the values go out through
    // The meter, the board and the disk; left empty, the real ones (the
    // board on `serial`).
    RunPorts ports;
    QString recoveryFolder; // where a recovery file goes; empty: the user's data folder
    // Read after every phase: false holds the run until singleStep().
    std::function<bool()> autoRun = [] {
        return true;
    };
    // A run nobody watches must not go on without its board: a port that
    // cannot be opened then fails the run at once.
    bool failWithoutBoard = false;
    RunClock clock;
    // The engine's own waits, before the first send and from the end of a
    // step to the next send. Tests shorten them.
    static constexpr int kFirstSendMs = 500;
    static constexpr int kNextStepMs = 100;
    RunResume resume;
    int firstSendMs = kFirstSendMs;
    int nextStepMs = kNextStepMs;
};
