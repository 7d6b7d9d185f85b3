#pragma once

#include "tools/benchsim/SimInstrument.h"

class ReadingSource;

// The simulated dual-output DC supply: per output a voltage and current
// setting and an on/off state, the display channel, the self-test, and a
// voltmeter input read from a reading source.
class SimSupply : public SimInstrument
{
public:
    static constexpr int Outputs = 2;

    explicit SimSupply(ReadingSource &dvmSource);

    double voltage(int output) const { return settings[output - 1].voltage; }
    double current(int output) const { return settings[output - 1].current; }
    bool isOn(int output) const { return settings[output - 1].on; }
    int displayChannel() const { return channel; }

protected:
    bool execute(const ScpiCommand &command, QByteArray &reply) override;

private:
    struct Output
    {
        double voltage = 0.0;
        double current = 0.0;
        bool on = false;
    };

    static QByteArray formatValue(double value);
    void reset();

    ReadingSource &dvmSource;
    Output settings[Outputs];
    int channel = 1;
};
