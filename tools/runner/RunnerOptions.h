#pragma once

#include "plan/PlanSettings.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// What one benchtest-run invocation asks for. Unset fields keep what the
// window would show on its own (the form's defaults, the configured meter).
struct RunnerOptions
{
    enum class Test
    {
        Dac,
        Isink
    };

    bool helpRequested = false;
    bool versionRequested = false;
    // --list-resources [PATTERN]: list what is connected instead of a run.
    bool listResources = false;
    QString resourcePattern = QStringLiteral("?*");
    // --probe-serial: the listing also sends *IDN? into serial ports.
    bool probeSerial = false;
    bool verbose = false;
    Test test = Test::Dac;
    QString dmmResource; // empty: the address from the configuration file
    QString serialPort;  // empty: the serial box stays unticked
    std::array<std::optional<QString>, 12> vars;
    std::optional<QString> item;
    std::optional<QString> tester;
    QString outputDir = QStringLiteral(".");
    // --db: the PostgreSQL database the run is also stored in; empty: the
    // configuration file's [database] url, if any.
    QString databaseUrl;

    // The run plan (docs/plan.md): a plan file, and everything the command
    // line lays over it, the fields above included (--test, --dmm, --serial,
    // Var_1 … Var_4, --item, --tester), each with its option as origin.
    QString planFile;
    PlanSettings planOptions;
    bool dryRun = false;       // show the effective plan and touch nothing
    bool allowNoMeter = false; // run without a meter, its cells ERR
    bool eventsJson = false;   // --events json: one JSON object per line on stdout
    // --resume FILE: take up the interrupted run of FILE (or of its record);
    // --force: even when the software, test, parameters or port differ.
    QString resume;
    bool force = false;

    // Parses the whole command line (program name first). Returns false with a
    // one-line `error` on anything it cannot take; `options` is undefined then.
    [[nodiscard]] static bool parse(const QStringList &arguments, RunnerOptions *options,
                                    QString *error);
    static QString helpText();
};
