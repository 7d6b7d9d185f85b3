#pragma once

#include "tools/benchsim/SimInstrument.h"

class ReadingSource;

// The simulated dual-output DC supply: per output a voltage and current
// limit setting (output 1 up to 15 V and 3 A, output 2 up to 12 V and
// 1.5 A; more is refused with -222) and an on/off state, the display
// channel, the self-test, a voltmeter input read from a reading source, and
// the current the load draws: every output that is on measures the load
// source's value (never below 0), an output that is off measures 0.
class SimSupply : public SimInstrument
{
public:
    static constexpr int Outputs = 2;

    SimSupply(ReadingSource &dvmSource, ReadingSource &loadSource);

    double voltage(int output) const { return settings[output - 1].voltage; }
    double current(int output) const { return settings[output - 1].current; }
    bool isOn(int output) const { return settings[output - 1].on; }
    int displayChannel() const { return channel; }

    static QByteArray formatValue(double value);

protected:
    int execute(const ScpiCommand &command, QByteArray &reply) override;

private:
    struct Output
    {
        double voltage = 0.0;
        double current = 0.0;
        bool on = false;
    };

    void reset();
    int setLevel(const ScpiCommand &command, int output, bool isVoltage);

    ReadingSource &dvmSource;
    ReadingSource &loadSource;
    Output settings[Outputs];
    int channel = 1;
};
