#pragma once

#include "plan/MeterSetup.h"
#include "plan/SweepPlan.h"

#include <QString>

#include <optional>

// One setting as some source gave it, with where it came from for messages:
// "plan.ini:12", "--nplc", "config.ini".
template <typename T> struct Setting
{
    std::optional<T> value;
    QString origin;

    void set(T newValue, QString from)
    {
        value = std::move(newValue);
        origin = std::move(from);
    }
    void reset()
    {
        value.reset();
        origin.clear();
    }
    explicit operator bool() const { return value.has_value(); }
    const T &operator*() const { return *value; }
    // Takes `other` when it is set: a later source overrides an earlier one.
    void take(const Setting &other)
    {
        if (other)
            *this = other;
    }
};

enum class TestChoice
{
    Dac,
    Isink
};

// Everything a run plan can say, each part optional: what one source (the
// plan file, the command line, the configuration file) sets. Sources are laid
// over each other with override(); RunPlan::resolve() turns the result into
// the effective plan. Each value was checked on its own when it was read.
struct PlanSettings
{
    Setting<TestChoice> test;
    Setting<QString> item;
    Setting<QString> tester;

    // The sweep: a code list, or the codes 1 … steps.
    Setting<QString> codes;
    Setting<qint64> steps;
    Setting<SweepPlan::Direction> direction;
    Setting<qint64> repeat;
    Setting<SweepPlan::Order> order;
    Setting<quint64> seed;

    Setting<qint64> settleMs;
    Setting<qint64> readingsPerStep;
    Setting<qint64> readingIntervalMs;

    Setting<QString> meterResource;
    Setting<QString> expectIdn; // a regular expression the meter's *IDN? reply must match
    Setting<MeterSetup::Function> function;
    Setting<std::optional<double>> range; // an empty optional: autorange
    Setting<double> nplc;
    Setting<MeterSetup::Autozero> autozero;
    Setting<MeterSetup::Impedance> impedance;

    Setting<QString> serialPort;

    Setting<QString> supplyResource;
    Setting<qint64> supplyChannel;
    Setting<double> supplyVoltage;
    Setting<double> supplyCurrentLimit;
    Setting<bool> supplyReadsCurrent;

    // Lays `over` on top. The code list and the step count are one choice:
    // a source that sets either replaces both. A source that makes the order
    // sequential drops an earlier seed.
    void override(const PlanSettings &over);
};

// The values of the plan file and the command line, read the same way for
// both: each parser fails with a message that quotes the text.
namespace PlanValues {
// Decimal, optional sign, 64 bits.
[[nodiscard]] bool parseInteger(const QString &text, qint64 *value, QString *error);
// Decimal, no sign, 64 bits unsigned: a shuffle's seed.
[[nodiscard]] bool parseSeed(const QString &text, quint64 *value, QString *error);
// A plain decimal number above 0, with an optional exponent; no hex, no "inf".
[[nodiscard]] bool parsePositive(const QString &text, double *value, QString *error);
// yes or no (true or false).
[[nodiscard]] bool parseYesNo(const QString &text, bool *value, QString *error);
} // namespace PlanValues
