#pragma once

#include "engine/TestKind.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <functional>

struct SerialConfig;

// The clock a run reads: the epoch time for the progress estimate, the local
// time for the file's time stamps. Tests pass a clock of their own.
struct RunClock
{
    std::function<qint64()> epochMs = [] {
        return QDateTime::currentMSecsSinceEpoch();
    };
    std::function<QDateTime()> localTime = [] {
        return QDateTime::currentDateTime();
    };
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
    // Read after every phase: false holds the run until singleStep().
    std::function<bool()> autoRun = [] {
        return true;
    };
    // A run nobody watches must not go on without its board: a port that
    // cannot be opened then fails the run at once.
    bool failWithoutBoard = false;
    RunClock clock;
};
