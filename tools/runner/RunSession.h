#pragma once

#include "plan/RunPlan.h"
#include "tools/runner/RunnerOptions.h"

#include <QObject>

#include "engine/RunSetup.h"

#include <cstdio>
#include <optional>

class RunEngine;
class RunEvents;
struct RunOutcome;

// One benchtest-run invocation after its options are read: the run of its
// effective plan, its progress for people, its events for machines, the stop
// signals and the exit status.
class RunSession : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus
    {
        Finished = 0, // and clean
        NotClean = 1,
        CouldNotStart = 2,
    };

    // `options` as RunnerPlan::sessionOptions() gives them for `plan`.
    RunSession(const RunnerOptions &options, const RunPlan &plan, QObject *parent = nullptr);
    // Takes up an interrupted run (benchtest-run --resume) instead of a new one.
    void resumeRun(const RunResume &resumed) { resume = resumed; }

    // Runs the test to its end in the application's event loop and returns
    // the process exit status: an ExitStatus, or 128 + the signal that stopped it.
    int exec();

    // The exit status of a run that ended so.
    static int exitStatus(const RunOutcome &outcome, int stopSignal);

private:
    // The run the window would start with the same entries; false with
    // `error` when it cannot go ahead.
    bool prepare(RunSetup *setup, QString *error) const;
    // --db, else the configuration file's [database] url; empty: no database.
    QString databaseUrl() const;
    // --events json: the engine's start, steps, faults to `events`.
    void reportEvents(RunEngine *engine, RunEvents *events);
    void reportEnd(RunEvents *events, const RunOutcome &outcome, int status) const;

    RunnerOptions options;
    RunResume resume;
    RunPlan plan;
    std::optional<QString> pendingSupplyCell; // of the row written next
    bool started = false;                     // the run got its file
    qint64 stepsFinished = 0;                 // as the engine's signals told
};
