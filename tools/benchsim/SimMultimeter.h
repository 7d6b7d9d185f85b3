#pragma once

#include "tools/benchsim/SimInstrument.h"

#include <QList>

#include <optional>

class ReadingSource;

// The simulated bench multimeter: DC voltage and DC current, each with its
// own range (fixed or automatic) and integration time, readings in the
// meter's "+1.23456789E+00" format taken from a pluggable reading source.
//
// A reading takes its integration time, NPLC cycles of 50 Hz (NPLC 10 is
// 200 ms), unless timing is off. A fixed range reads up to 120 % of itself
// and answers +9.9E37 beyond; the automatic range overloads only beyond the
// largest range. Ranges: 0.1 V to 1000 V and 100 uA to 10 A in decades (and
// 3 A); a range asked for is rounded up to the next, a larger one is refused.
// NPLC is rounded up to 0.02, 0.2, 1, 10 or 100; beyond 100 it is refused.
// A refused set-up leaves the setting as it was and puts -222 "Data out of
// range" (or -224 "Illegal parameter value" for a word where a number
// belongs) in the error queue.
class SimMultimeter : public SimInstrument
{
public:
    enum class Function
    {
        DcVoltage,
        DcCurrent
    };

    explicit SimMultimeter(ReadingSource &source);

    Function function() const { return currentFunction; }
    double range() const { return setup(currentFunction).range; } // 0 = automatic
    double nplc() const { return setup(currentFunction).nplc; }
    bool autoZero() const { return zeroAuto; }
    bool autoImpedance() const { return impedanceAuto; }
    // How long one reading of the present function takes, in microseconds.
    qint64 integrationMicros() const;

    // "+2.50000000E+00"; the overload value beyond 120 % of a fixed range.
    static QByteArray formatReading(double value, double range);
    static QByteArray formatNumber(double value);

protected:
    int execute(const ScpiCommand &command, QByteArray &reply) override;
    void triggered() override;

private:
    struct Setup
    {
        double range = 0.0; // 0 = automatic
        double nplc = 10.0;
        std::optional<double> lastValue; // what automatic ranging goes by
    };

    const Setup &setup(Function function) const;
    Setup &setup(Function function);
    static const QList<double> &ranges(Function function);
    void reset();
    void configure(Function function);
    int setRange(const QByteArray &argument, Function function);
    int setAutoRange(const ScpiCommand &command, Function function);
    int setNplc(const ScpiCommand &command, Function function);
    int serveFunction(const ScpiCommand &command, Function function, QByteArray &reply);
    double rangeInUse(Function function) const;
    static int onOff(const ScpiCommand &command, bool &setting, QByteArray &reply);
    QByteArray takeReading();

    ReadingSource &source;
    Function currentFunction = Function::DcVoltage;
    Setup voltage;
    Setup current;
    bool zeroAuto = true;
    bool impedanceAuto = false;
    std::optional<QByteArray> memory; // the last reading, for FETCh?
};
