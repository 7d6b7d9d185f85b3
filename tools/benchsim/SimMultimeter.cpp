#include "tools/benchsim/SimMultimeter.h"

#include "tools/benchsim/ReadingSource.h"
#include "tools/benchsim/ScpiCommand.h"

#include <cmath>
#include <cstdio>

SimMultimeter::SimMultimeter(ReadingSource &source) : source(source) {}

QByteArray SimMultimeter::formatReading(double value, double range)
{
    if (!std::isfinite(value) || (range > 0.0 && std::fabs(value) > range * 1.2))
        value = 9.9e37;
    char text[32];
    std::snprintf(text, sizeof text, "%+.8E", value);
    return QByteArray(text);
}

void SimMultimeter::reset()
{
    currentFunction = Function::DcVoltage;
    currentRange = 0.0;
    integration = 10.0;
    impedanceAuto = false;
}

QByteArray SimMultimeter::takeReading()
{
    return formatReading(source.nextReading(), currentRange);
}

bool SimMultimeter::setRange(const ScpiCommand &command)
{
    double value = 0.0;
    if (command.argument().toUpper().startsWith("AUTO")) {
        currentRange = 0.0;
        return true;
    }
    if (!command.argumentAsNumber(value) || value <= 0.0)
        return false;
    currentRange = value;
    return true;
}

bool SimMultimeter::execute(const ScpiCommand &command, QByteArray &reply)
{
    if (command.matches("*IDN?")) {
        reply = "BenchSim,34461A,SIM0001,A.02.14";
        return true;
    }
    if (command.matches("*RST")) {
        reset();
        return true;
    }
    if (command.matches("CONFigure:VOLTage:[DC]") || command.matches("CONFigure:CURRent:[DC]")) {
        currentFunction =
            command.matches("CONFigure:VOLTage:[DC]") ? Function::DcVoltage : Function::DcCurrent;
        currentRange = 0.0;
        return command.argument().isEmpty() || setRange(command);
    }
    if (command.matches("[SENSe]:VOLTage:[DC]:NPLCycles") ||
        command.matches("[SENSe]:CURRent:[DC]:NPLCycles"))
        return command.argumentAsNumber(integration) && integration > 0.0;
    if (command.matches("[SENSe]:VOLTage:[DC]:RANGe") ||
        command.matches("[SENSe]:CURRent:[DC]:RANGe"))
        return setRange(command);
    if (command.matches("[SENSe]:VOLTage:[DC]:RANGe:AUTO") ||
        command.matches("[SENSe]:CURRent:[DC]:RANGe:AUTO")) {
        bool on = false;
        if (!command.argumentAsBoolean(on))
            return false;
        if (on)
            currentRange = 0.0;
        return true;
    }
    if (command.matches("[SENSe]:VOLTage:[DC]:IMPedance:AUTO"))
        return command.argumentAsBoolean(impedanceAuto);
    if (command.matches("READ?")) {
        reply = takeReading();
        return true;
    }
    if (command.matches("MEASure:VOLTage:[DC]?") || command.matches("MEASure:CURRent:[DC]?")) {
        currentFunction =
            command.matches("MEASure:VOLTage:[DC]?") ? Function::DcVoltage : Function::DcCurrent;
        currentRange = 0.0;
        reply = takeReading();
        return true;
    }
    if (command.matches("MEASure:DVM:[DC]?")) {
        reply = takeReading();
        return true;
    }
    return false;
}
