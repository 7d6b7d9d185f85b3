#pragma once

#include "plan/RunPlan.h"

#include <QString>

// The checks benchtest-run makes before anything is written, each a small
// function with a one-line failure: the plan is valid; the result folder is
// writable and has room for the estimated file; the serial port opens; the
// multimeter answers *IDN? (matching the plan's pattern) and takes its
// set-up, its error queue empty after it. The meter's checks end within
// kMeterBudgetMs whatever the meter does, so a refusal comes in well under
// 3 s; nothing is left open.
class Preflight
{
public:
    static constexpr int kMeterBudgetMs = 2000;
    static constexpr int kExchangeTimeoutMs = 1000; // open, a write, or a query and its reply
    // An error queue that does not empty after this many entries never will.
    static constexpr int kMaxQueueEntries = 32;

    // `allowNoMeter`: no meter configured, or one that cannot be opened or
    // does not answer, is no failure.
    Preflight(const RunPlan &plan, const QString &folder, bool allowNoMeter);

    // Every check in the order above, up to the first failure.
    [[nodiscard]] bool run(QString *failure);
    // The meter's answer to *IDN?, once it has been checked; empty without one.
    QString meterIdentity() const { return identity; }

    [[nodiscard]] static bool checkPlan(const RunPlan &plan, QString *failure);
    // `folder` as the operator gave it, for the message.
    [[nodiscard]] static bool checkFolder(const QString &folder, qint64 bytesNeeded,
                                          QString *failure);
    // No port named is no failure: the values then go nowhere, by choice.
    [[nodiscard]] static bool checkSerialPort(const QString &port, QString *failure);
    [[nodiscard]] bool checkMeter(QString *failure);

private:
    RunPlan plan;
    QString folder;
    bool allowNoMeter;
    QString identity;
};
