#pragma once

#include "tools/benchsim/SimInstrument.h"

class ReadingSource;

// The simulated bench multimeter: DC voltage and DC current, with the
// set-up commands the tests send, and readings in the meter's
// "+1.23456789E+00" format taken from a pluggable reading source.
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
    double range() const { return currentRange; } // 0 = automatic
    double nplc() const { return integration; }
    bool autoImpedance() const { return impedanceAuto; }

    // "+2.50000000E+00"; the overload value beyond 120 % of a fixed range.
    static QByteArray formatReading(double value, double range);

protected:
    bool execute(const ScpiCommand &command, QByteArray &reply) override;

private:
    void reset();
    bool setRange(const ScpiCommand &command);
    QByteArray takeReading();

    ReadingSource &source;
    Function currentFunction = Function::DcVoltage;
    double currentRange = 0.0;
    double integration = 10.0;
    bool impedanceAuto = false;
};
