#pragma once

#include "plan/MeterSetup.h"
#include "plan/PlanSettings.h"
#include "plan/SweepPlan.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// The bench power supply of a run: what it is set to and whether its output
// current is read at every step.
struct SupplyPlan
{
    QString resource;
    qint64 channel = 1;
    double voltage = 0;      // V
    double currentLimit = 0; // A
    bool readsCurrent = false;

    static constexpr double kMaxVoltage = 1000;
    static constexpr double kMaxCurrent = 100;

    QJsonObject toJson() const;
};

// The effective plan of one run: every setting in force, whatever source it
// came from, checked as a whole. What a run does, what its record says and
// what a dry run shows.
struct RunPlan
{
    // The built-in tests' own parameters: what a fresh window shows.
    static constexpr qint64 kDefaultSteps = 10;
    static constexpr qint64 kDefaultSettleMs = 100;
    static constexpr qint64 kDefaultReadingsPerStep = 3;
    static constexpr qint64 kDefaultReadingIntervalMs = 100;
    // The run engine's limits and fixed waits.
    static constexpr qint64 kMaxReadingsPerStep = 100000;
    static constexpr qint64 kMaxWaitMs = 2147483647; // a 32-bit timer interval
    static constexpr qint64 kFirstStepMs = 500;
    static constexpr qint64 kBetweenStepsMs = 100;
    // For the estimated file size: "+1.23456789E-03" and its tab.
    static constexpr qint64 kBytesPerReading = 16;
    // The run's record beside its file, and its temporary copy while it is replaced.
    static constexpr qint64 kRecordBytes = 16384;

    TestChoice test = TestChoice::Dac;
    QString item;   // empty: none given
    QString tester; // empty: none given
    SweepPlan sweep;
    qint64 settleMs = kDefaultSettleMs;
    qint64 readingsPerStep = kDefaultReadingsPerStep;
    qint64 readingIntervalMs = kDefaultReadingIntervalMs;
    QString meterResource; // empty: none configured
    QString expectIdn;     // empty: any identity
    MeterSetup meter = MeterSetup::defaults(MeterSetup::Function::Voltage);
    QString serialPort; // empty: the values go nowhere
    std::optional<SupplyPlan> supply;

    // The plan `settings` describe, with the defaults above for what they
    // leave out (the function follows the test and the other way round).
    // False with a one-line message that names where the offending value came from.
    [[nodiscard]] static bool resolve(const PlanSettings &settings, RunPlan *plan, QString *error);
    // The same checks on a plan however it was made.
    [[nodiscard]] bool validate(QString *error) const;

    // The sweep's whole duration on an instant bench and meter: the engine's
    // fixed waits, the settle time, each reading integrating its NPLC cycles
    // of 50 Hz mains, and the waits between readings.
    qint64 estimatedDurationMs() const;
    // An upper estimate of the result file and its record, in bytes.
    qint64 estimatedFileBytes() const;

    QJsonObject toJson() const;

    static QString name(TestChoice test);
    [[nodiscard]] static bool parseTest(const QString &text, TestChoice *test, QString *error);
    static MeterSetup::Function functionOf(TestChoice test);
};
