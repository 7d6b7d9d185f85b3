#pragma once

#include "bench/support/WindowRun.h"

#include <QCommandLineOption>

class QCommandLineParser;

// The --steps, --settle, --readings and --interval options of a benchmark
// that makes one automatic run, with that benchmark's defaults.
class RunParameterOptions
{
public:
    explicit RunParameterOptions(const WindowRun::Parameters &defaults);

    QList<QCommandLineOption> options() const { return {steps, settle, readings, interval}; }
    // The values given; false (with `problem` set) when a count is below 1 or a
    // wait below 0.
    bool read(const QCommandLineParser &parser, WindowRun::Parameters &parameters,
              QString *problem) const;

private:
    QCommandLineOption steps;
    QCommandLineOption settle;
    QCommandLineOption readings;
    QCommandLineOption interval;
};
