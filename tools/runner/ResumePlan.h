#pragma once

#include "engine/RunSetup.h"
#include "tools/runner/RunnerOptions.h"

// What `benchtest-run --resume FILE` takes up: an interrupted run's record and
// file, read and checked against each other and against this start, and the
// options that make the same run again. The run goes on at the first step
// without a whole row; a row begun is cut back and kept in the record.
struct ResumePlan
{
    RunResume resume;
    RunnerOptions options; // the run's own test, parameters, names, meter, port and folder

    // `fileOrRecord` is the result file or its record. Refuses (false, with one
    // line naming what differs) a run that finished, one that went on in a
    // recovery file, a file that does not agree with its record, and, unless
    // --force, a start whose software, test, parameters or serial device
    // differ from the run's; the meter's identity is checked once it answers.
    [[nodiscard]] static bool read(const QString &fileOrRecord, const RunnerOptions &given,
                                   ResumePlan *plan, QString *error);
};
