#pragma once

#include "plan/RunPlan.h"

#include <QString>

// The checks benchtest-run makes before the run engine starts, each a small
// function with a one-line failure, cheapest first: the plan is valid; the
// result folder is writable and has room for the estimated file; the serial
// port opens; a multimeter is configured. The instruments themselves are
// checked by the run engine on its own sessions (RunSetup::checkInstruments),
// still before anything is written.
class Preflight
{
public:
    // `allowNoMeter`: no meter configured is no failure.
    Preflight(const RunPlan &plan, const QString &folder, bool allowNoMeter);

    // Every check in the order above, up to the first failure.
    [[nodiscard]] bool run(QString *failure) const;

    [[nodiscard]] static bool checkPlan(const RunPlan &plan, QString *failure);
    // `folder` as the operator gave it, for the message.
    [[nodiscard]] static bool checkFolder(const QString &folder, qint64 bytesNeeded,
                                          QString *failure);
    // No port named is no failure: the values then go nowhere, by choice.
    [[nodiscard]] static bool checkSerialPort(const QString &port, QString *failure);
    [[nodiscard]] static bool checkMeterConfigured(const QString &resource, bool allowNoMeter,
                                                   QString *failure);

private:
    RunPlan plan;
    QString folder;
    bool allowNoMeter;
};
