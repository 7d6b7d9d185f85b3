#pragma once

#include "engine/RunPorts.h"

#include <QList>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

// A bench in memory for engine tests: a meter and a board behind the
// engine's ports, sharing one state the test sets up and reads back (the
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
        QSet<qint32> valuesLost; // these values do not go out
        QList<qint32> valuesSent;
        int boardCloses = 0;
    };

    FakeBench();
    std::shared_ptr<State> state() const { return shared; }
    // Ports on this bench; the disk is `fileSystem` (null: the real one).
    // Without a board the run sends its values nowhere.
    RunPorts ports(FileSystemCalls *fileSystem = nullptr, bool withBoard = true) const;

private:
    std::shared_ptr<State> shared;
};
