#include "tools/benchsim/SimSupply.h"

#include "tools/benchsim/ReadingSource.h"
#include "tools/benchsim/ScpiCommand.h"

#include <cstdio>

SimSupply::SimSupply(ReadingSource &dvmSource) : dvmSource(dvmSource) {}

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

bool SimSupply::execute(const ScpiCommand &command, QByteArray &reply)
{
    int n = 1;
    const auto validOutput = [&n] {
        return n >= 1 && n <= Outputs;
    };

    if (command.matches("*IDN?")) {
        reply = "BenchSim,66309D,SIM0002,A.01.05";
        return true;
    }
    if (command.matches("*RST")) {
        reset();
        return true;
    }
    if (command.matches("*TST?")) {
        reply = "0"; // passed
        return true;
    }
    if (command.matches("DISPlay:CHANnel")) {
        double value = 0.0;
        if (!command.argumentAsNumber(value) || (value != 1.0 && value != 2.0))
            return false;
        channel = int(value);
        return true;
    }
    if (command.matches("DISPlay:CHANnel?")) {
        reply = QByteArray::number(channel);
        return true;
    }
    if (command.matches("[SOURce]:VOLTage#:[LEVel]", &n) ||
        command.matches("[SOURce]:CURRent#:[LEVel]", &n)) {
        double value = 0.0;
        if (!validOutput() || !command.argumentAsNumber(value) || value < 0.0)
            return false;
        if (command.matches("[SOURce]:VOLTage#:[LEVel]"))
            settings[n - 1].voltage = value;
        else
            settings[n - 1].current = value;
        return true;
    }
    if (command.matches("[SOURce]:VOLTage#:[LEVel]?", &n) && validOutput()) {
        reply = formatValue(settings[n - 1].voltage);
        return true;
    }
    if (command.matches("[SOURce]:CURRent#:[LEVel]?", &n) && validOutput()) {
        reply = formatValue(settings[n - 1].current);
        return true;
    }
    if (command.matches("OUTPut#:[STATe]", &n))
        return validOutput() && command.argumentAsBoolean(settings[n - 1].on);
    if (command.matches("OUTPut#:[STATe]?", &n) && validOutput()) {
        reply = settings[n - 1].on ? "1" : "0";
        return true;
    }
    if (command.matches("MEASure:DVM:[DC]?")) {
        reply = formatValue(dvmSource.nextReading());
        return true;
    }
    if (command.matches("MEASure:VOLTage#:[DC]?", &n) && validOutput()) {
        reply = formatValue(settings[n - 1].on ? settings[n - 1].voltage : 0.0);
        return true;
    }
    if (command.matches("MEASure:CURRent#:[DC]?", &n) && validOutput()) {
        reply = formatValue(0.0); // no load on the simulated outputs
        return true;
    }
    return false;
}
