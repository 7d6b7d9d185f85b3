#pragma once

#include "plan/RunPlan.h"
#include "tools/runner/RunnerOptions.h"

struct RunSetup;

#include <QString>

#include <cstdio>

// The effective plan of one benchtest-run invocation and what the run
// session is given for it.
namespace RunnerPlan {

// The built-in defaults, then the meter address in config.ini, then the plan
// file, then the command line; a shuffled order without a seed gets one drawn
// at random. False with a one-line message that names the offending source.
[[nodiscard]] bool resolve(const RunnerOptions &options, RunPlan *plan, QString *error);

// What the plan asks of the run engine beyond the window's fields: its
// sweep, meter set-up and supply, the plan for the record, and the checks of
// the instruments before anything is written (`allowNoMeter`: a meter that
// cannot be opened or does not answer passes them).
void configureEngine(const RunPlan &plan, bool allowNoMeter, RunSetup *setup);

// The options a RunSession runs the plan with: the command line's own texts
// where it gave them (they go into the record as typed), the plan's values
// where the plan file gave them, the session's defaults otherwise.
RunnerOptions sessionOptions(const RunnerOptions &options, const RunPlan &plan);

// --dry-run: the plan as a plan file, with its codes, meter commands and
// estimates as comments; or, with --events json, one "plan" event.
void printDryRun(const RunPlan &plan, bool eventsJson, std::FILE *out);

} // namespace RunnerPlan
