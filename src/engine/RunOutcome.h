#pragma once

#include "record/RunRecord.h"

#include <QMetaType>
#include <QString>

#include <optional>

// How a run ended and what it left behind.
struct RunOutcome
{
    enum Status
    {
        Finished, // every step done; the completion line is written
        Stopped,  // stopped before its last step
        Failed,   // could not go on (see `failure`)
    };

    Status status = Stopped;
    qint64 stepsPlanned = 0;
    qint64 stepsDone = 0;
    qint64 readings = 0;
    qint64 errCells = 0; // readings recorded as ERR: no reply, or not the query's own
    // Replies that are no measurement: the overload marker (+9.9E37), INF,
    // NAN, anything that is not a number. The file keeps them as they came.
    qint64 notMeasurements = 0;
    qint64 framesNotSent = 0;    // values that did not go out to the board
    qint64 piecesNotWritten = 0; // pieces of the result file that did not reach the disk
    bool fileSynced = true;      // the result file's last piece is on disk
    qint64 recordWritesFailed = 0;
    QString recordFailure;       // why the first failed record write failed
    bool meterAnswered = false;  // the meter answered its identity query at the start
    bool boardConnected = false; // the serial port opened at the start
    // Supply current cells that are ERR or no measurement (runs that read it).
    qint64 supplyNotMeasured = 0;
    // The supply's output was switched on and could not be confirmed off:
    // whatever it powers may still be live.
    bool supplyLeftOn = false;
    QString runId;
    QString resultFile;
    QString recordFile;   // where the run's record is (beside the recovery file once there)
    QString recoveryFile; // where the rest of the run went when its file could not take it
    QString failure;
    QString stoppedBy; // who stopped it: the operator, a signal, the window closing
    // What the lab's database has of the run, once it has settled after the end (see
    // RunEngine::amendRecord()); none without a database. Not part of isClean(): the
    // result file is the primary record.
    std::optional<DatabaseResult> database;

    // Finished, with every value sent, every reading a measurement of its own
    // query, every piece in the result file and on disk, the record written,
    // and the supply (when there is one) measured at every step and off.
    [[nodiscard]] bool isClean() const;
    // One line for people: "finished", "finished with 3 ERR cells", ….
    [[nodiscard]] QString summary() const;
};

Q_DECLARE_METATYPE(RunOutcome)
