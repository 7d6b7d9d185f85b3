#pragma once

#include "tools/runner/RunnerOptions.h"

#include <QObject>

#include "engine/RunSetup.h"

// One benchtest-run invocation after its options are read: the run, its
// progress on standard output, the stop signals and the exit status.
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

    explicit RunSession(const RunnerOptions &options, QObject *parent = nullptr);
    // A run taken up again (benchtest-run --resume).
    RunSession(const RunnerOptions &options, const RunResume &resume, QObject *parent = nullptr);

    // Runs the test to its end in the application's event loop and returns
    // the process exit status: an ExitStatus, or 128 + the signal that stopped it.
    int exec();

private:
    // The run the window would start with the same entries; false with
    // `error` when it cannot go ahead.
    bool prepare(RunSetup *setup, QString *error) const;
    // --db, else the configuration file's [database] url; empty: no database.
    QString databaseUrl() const;

    RunnerOptions options;
    RunResume resume;
};
