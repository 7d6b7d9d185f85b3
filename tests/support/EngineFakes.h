#pragma once

#include "engine/RunOutcome.h"
#include "engine/RunPorts.h"
#include "engine/RunSetup.h"

#include <QList>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class RunEngine;

// A bench in memory for engine tests: a meter, a board and a supply behind
// the engine's ports, sharing one state the test sets up and reads back (the
// engine deletes its ports when a run ends; the state outlives them).
class FakeBench
{
public:
    struct State
    {
        // The meter.
        bool meterAnswers = true;
        QString identity = QStringLiteral("FAKE,DMM,1,1.0\n");
        // The reply to the n-th query (from 1); by default a number of its own.
        std::function<QString(qint64 query)> reply = [](qint64 query) {
            return QStringLiteral("+%1E-03\n").arg(double(query), 0, 'f', 4);
        };
        // A look at the link after reply n finds a stray line.
        QSet<qint64> strayAfterReply;
        QStringList commands; // every command written or asked, in order
        qint64 queries = 0;
        int meterCloses = 0;
        std::atomic<int> aborts{0};

        // The board.
        bool boardOpens = true;
        QList<qint32> valuesSent;

        // The supply.
        QString supplyIdentity = QStringLiteral("FAKE,PWR,1,1.0\n");
        QStringList supplyErrors; // queued once the levels are set, for SYST:ERR? to tell
        bool outputOn = false;
        bool outputSwitchesOff = true; // false: OUTP OFF is ignored, as by a broken supply
        // The reply to the n-th current measurement (from 1).
        std::function<QString(qint64 measurement)> supplyCurrent = [](qint64) {
            return QStringLiteral("+2.00000E-02\n");
        };
        QSet<qint64> strayAfterMeasurement; // a look after measurement n finds a stray
        qint64 measurements = 0;
        int supplyCloses = 0;

        // Everything each part was told, in order: "meter <command>",
        // "board <value>", "supply <what>" ("supply levels 1 3.3 0.05",
        // "supply output 1 on", "supply measure 1", …).
        QStringList timeline;
    };

    FakeBench();
    std::shared_ptr<State> state() const { return shared; }
    // Ports on this bench; the disk is `fileSystem` (null: the real one).
    RunPorts ports(FileSystemCalls *fileSystem = nullptr) const;
    // The supply's lines of the timeline, without "supply ".
    QStringList supplyLines() const;

private:
    std::shared_ptr<State> shared;
};

// A DAC run of three steps of two readings on `bench`, without waits, stamped
// 2026-03-04 05:06:07: its file goes into `folder`/results, a recovery file
// into `folder`/recovery; the disk is `fileSystem` (null: the real one).
RunSetup fakeBenchRun(const FakeBench &bench, const QString &folder,
                      FileSystemCalls *fileSystem = nullptr);
// Starts `engine` and stops it once the run has ended; a default outcome when
// it has not ended within 5 s.
RunOutcome runToEnd(RunEngine &engine);
