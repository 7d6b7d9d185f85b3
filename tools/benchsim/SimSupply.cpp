#include "tools/benchsim/SimSupply.h"

#include "tools/benchsim/ReadingSource.h"
#include "tools/benchsim/ScpiCommand.h"

#include <cstdio>

namespace {

// The most each output can be set to: volts and amperes.
constexpr double MaximumVoltage[SimSupply::Outputs] = {15.0, 12.0};
constexpr double MaximumCurrent[SimSupply::Outputs] = {3.0, 1.5};

} // namespace

SimSupply::SimSupply(ReadingSource &dvmSource, ReadingSource &loadSource)
    : dvmSource(dvmSource), loadSource(loadSource)
{}

QByteArray SimSupply::formatValue(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.5E", value);
    return QByteArray(text);
}

void SimSupply::reset()
{
    for (Output &output : settings)
        output = Output();
    channel = 1;
}

int SimSupply::setLevel(const ScpiCommand &command, int output, bool isVoltage)
{
    const double maximum = (isVoltage ? MaximumVoltage : MaximumCurrent)[output - 1];
    double value = 0.0;
    if (!command.argumentAsNumber(value, 0.0, maximum, 0.0))
        return ScpiError::IllegalParameterValue;
    if (value < 0.0 || value > maximum)
        return ScpiError::DataOutOfRange;
    (isVoltage ? settings[output - 1].voltage : settings[output - 1].current) = value;
    return ScpiError::None;
}

int SimSupply::execute(const ScpiCommand &command, QByteArray &reply)
{
    using namespace ScpiError;
    int n = 1;
    const auto validOutput = [&n] {
        return n >= 1 && n <= Outputs;
    };

    if (command.matches("*IDN?")) {
        reply = "BenchSim,66309D,SIM0002,A.01.05";
        return None;
    }
    if (command.matches("*RST")) {
        reset();
        return None;
    }
    if (command.matches("*TST?")) {
        reply = "0"; // passed
        return None;
    }
    if (command.matches("DISPlay:CHANnel")) {
        double value = 0.0;
        if (!command.argumentAsNumber(value))
            return IllegalParameterValue;
        if (value != 1.0 && value != 2.0)
            return DataOutOfRange;
        channel = int(value);
        return None;
    }
    if (command.matches("DISPlay:CHANnel?")) {
        reply = QByteArray::number(channel);
        return None;
    }
    if (command.matches("[SOURce]:VOLTage#:[LEVel]", &n) && validOutput())
        return setLevel(command, n, true);
    if (command.matches("[SOURce]:CURRent#:[LEVel]", &n) && validOutput())
        return setLevel(command, n, false);
    if (command.matches("[SOURce]:VOLTage#:[LEVel]?", &n) && validOutput()) {
        reply = formatValue(settings[n - 1].voltage);
        return None;
    }
    if (command.matches("[SOURce]:CURRent#:[LEVel]?", &n) && validOutput()) {
        reply = formatValue(settings[n - 1].current);
        return None;
    }
    if (command.matches("OUTPut#:[STATe]", &n) && validOutput())
        return command.argumentAsBoolean(settings[n - 1].on) ? None : IllegalParameterValue;
    if (command.matches("OUTPut#:[STATe]?", &n) && validOutput()) {
        reply = settings[n - 1].on ? "1" : "0";
        return None;
    }
    if (command.matches("MEASure:DVM:[DC]?")) {
        reply = formatValue(dvmSource.nextReading());
        return None;
    }
    if (command.matches("MEASure:VOLTage#:[DC]?", &n) && validOutput()) {
        reply = formatValue(settings[n - 1].on ? settings[n - 1].voltage : 0.0);
        return None;
    }
    if (command.matches("MEASure:CURRent#:[DC]?", &n) && validOutput()) {
        reply = formatValue(settings[n - 1].on ? qMax(0.0, loadSource.nextReading()) : 0.0);
        return None;
    }
    return UndefinedHeader;
}
