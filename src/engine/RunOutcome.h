#pragma once

#include <QMetaType>
#include <QString>

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
    qint64 errCells = 0;         // readings recorded as ERR: the meter gave no reply
    qint64 framesNotSent = 0;    // values that did not go out to the board
    qint64 piecesNotWritten = 0; // pieces of the result file that did not reach the disk
    bool meterAnswered = false;  // the meter answered its identity query at the start
    bool boardConnected = false; // the serial port opened at the start
    QString resultFile;
    QString recoveryFile; // where the rest of the run went when its file could not take it
    QString failure;

    // Finished, with every value sent, every reading taken and every piece in
    // the result file.
    [[nodiscard]] bool isClean() const;
    // One line for people: "finished", "finished with 3 ERR cells", ….
    [[nodiscard]] QString summary() const;
};

Q_DECLARE_METATYPE(RunOutcome)
