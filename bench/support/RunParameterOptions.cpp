#include "bench/support/RunParameterOptions.h"

#include <QCommandLineParser>

RunParameterOptions::RunParameterOptions(const WindowRun::Parameters &defaults)
    : steps("steps", "Steps of the run.", "n", QString::number(defaults.steps)),
      settle("settle", "Settle wait in ms.", "ms", QString::number(defaults.settleMs)),
      readings("readings", "Readings per step.", "n", QString::number(defaults.readings)),
      interval("interval", "Reading interval in ms.", "ms", QString::number(defaults.intervalMs))
{}

bool RunParameterOptions::read(const QCommandLineParser &parser, WindowRun::Parameters &parameters,
                               QString *problem) const
{
    parameters.steps = parser.value(steps).toLongLong();
    parameters.settleMs = parser.value(settle).toLongLong();
    parameters.readings = parser.value(readings).toLongLong();
    parameters.intervalMs = parser.value(interval).toLongLong();
    if (parameters.steps >= 1 && parameters.readings >= 1 && parameters.settleMs >= 0 &&
        parameters.intervalMs >= 0)
        return true;
    *problem = QStringLiteral("steps and readings must be at least 1, waits at least 0");
    return false;
}
