#pragma once

#include "tests/support/SimulatorProcess.h"

#include <QList>
#include <QString>
#include <QStringList>

// The simulated multimeter (loopback TCP) and board (pseudo-terminal) as
// separate processes, with the transcripts of what each received.
class SimulatedBench
{
public:
    SimulatedBench();
    ~SimulatedBench();

    // Starts both simulators; extra options go to the multimeter (fault modes).
    bool start(const QStringList &meterOptions = {});
    void stop();
    // Ends the board process: its pseudo-terminal closes, as when a USB
    // adapter is pulled out.
    void stopBoard();
    QString error() const { return lastError; }

    QString meterResource() const { return meter.address(QStringLiteral("dmm")); }
    // A loopback port nobody listens on: the connection is refused at once.
    QString refusedResource() const;
    QString boardPath() const { return board.firstLine(); }

    // What arrived since the last clearTranscripts().
    QStringList meterLines() const;
    QList<qint32> boardValues() const;
    int badFrames() const;
    void clearTranscripts();

private:
    SimulatorProcess meter;
    SimulatorProcess board{SimulatorProcess::Program::Board};
    QString lastError;
    qsizetype meterSeen = 0;
    qsizetype boardSeen = 0;
};
