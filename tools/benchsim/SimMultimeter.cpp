#include "tools/benchsim/SimMultimeter.h"

#include "tools/benchsim/ReadingSource.h"
#include "tools/benchsim/ScpiCommand.h"

#include <cmath>
#include <cstdio>

namespace {

const QList<double> voltageRanges{0.1, 1.0, 10.0, 100.0, 1000.0};
const QList<double> currentRanges{1e-4, 1e-3, 1e-2, 0.1, 1.0, 3.0, 10.0};
const QList<double> nplcSteps{0.02, 0.2, 1.0, 10.0, 100.0};
constexpr double OverRange = 1.2;
constexpr double LineFrequency = 50.0;

// The first step at or above `value`, allowing for decimal rounding.
std::optional<double> stepAtOrAbove(const QList<double> &steps, double value)
{
    for (double step : steps) {
        if (value <= step * (1.0 + 1e-9))
            return step;
    }
    return std::nullopt;
}

// Which function a header's second node names: "CONF:VOLT" or "MEAS:CURR:DC?".
SimMultimeter::Function functionOf(const ScpiCommand &command, const char *voltagePattern)
{
    return command.matches(voltagePattern) ? SimMultimeter::Function::DcVoltage
                                           : SimMultimeter::Function::DcCurrent;
}

} // namespace

SimMultimeter::SimMultimeter(ReadingSource &source) : source(source) {}

QByteArray SimMultimeter::formatNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.8E", value);
    return QByteArray(text);
}

QByteArray SimMultimeter::formatReading(double value, double range)
{
    if (!std::isfinite(value) || (range > 0.0 && std::fabs(value) > range * OverRange))
        value = 9.9e37;
    return formatNumber(value);
}

const SimMultimeter::Setup &SimMultimeter::setup(Function function) const
{
    return function == Function::DcVoltage ? voltage : current;
}

SimMultimeter::Setup &SimMultimeter::setup(Function function)
{
    return function == Function::DcVoltage ? voltage : current;
}

const QList<double> &SimMultimeter::ranges(Function function)
{
    return function == Function::DcVoltage ? voltageRanges : currentRanges;
}

qint64 SimMultimeter::integrationMicros() const
{
    return qint64(std::llround(nplc() / LineFrequency * 1e6));
}

void SimMultimeter::reset()
{
    currentFunction = Function::DcVoltage;
    voltage = Setup();
    current = Setup();
    zeroAuto = true;
    impedanceAuto = false;
    memory.reset();
}

void SimMultimeter::configure(Function function)
{
    currentFunction = function;
    setup(function).range = 0.0;
    memory.reset();
}

// The automatic range: the smallest that holds the last reading.
double SimMultimeter::rangeInUse(Function function) const
{
    const Setup &of = setup(function);
    if (of.range > 0.0)
        return of.range;
    if (of.lastValue) {
        for (double range : ranges(function)) {
            if (std::fabs(*of.lastValue) <= range * OverRange)
                return range;
        }
    }
    return ranges(function).last();
}

int SimMultimeter::setRange(const QByteArray &argument, Function function)
{
    const QByteArray word = argument.toUpper();
    if (word == "AUTO" || word == "DEF" || word == "DEFAULT") {
        setup(function).range = 0.0;
        return ScpiError::None;
    }
    const QList<double> &steps = ranges(function);
    double value = 0.0;
    if (!ScpiCommand("RANG " + argument).argumentAsNumber(value, steps.first(), steps.last(), 0.0))
        return ScpiError::IllegalParameterValue;
    const std::optional<double> range = stepAtOrAbove(steps, value);
    if (value < 0.0 || !range)
        return ScpiError::DataOutOfRange;
    setup(function).range = *range;
    return ScpiError::None;
}

int SimMultimeter::setAutoRange(const ScpiCommand &command, Function function)
{
    bool on = false;
    if (command.firstArgument().toUpper() != "ONCE" && !command.argumentAsBoolean(on))
        return ScpiError::IllegalParameterValue;
    // Off and ONCE keep the range automatic ranging chose last.
    setup(function).range = on ? 0.0 : rangeInUse(function);
    return ScpiError::None;
}

int SimMultimeter::setNplc(const ScpiCommand &command, Function function)
{
    double value = 0.0;
    if (!command.argumentAsNumber(value, nplcSteps.first(), nplcSteps.last(), 10.0))
        return ScpiError::IllegalParameterValue;
    const std::optional<double> step = stepAtOrAbove(nplcSteps, value);
    if (value <= 0.0 || !step)
        return ScpiError::DataOutOfRange;
    setup(function).nplc = *step;
    return ScpiError::None;
}

QByteArray SimMultimeter::takeReading()
{
    spend(integrationMicros());
    Setup &of = setup(currentFunction);
    const double value = source.nextReading();
    of.lastValue = value;
    memory = formatReading(value, of.range > 0.0 ? of.range : ranges(currentFunction).last());
    return *memory;
}

void SimMultimeter::triggered()
{
    takeReading();
}

// The settings each function has of its own, under [SENSe]:VOLTage[:DC] or
// [SENSe]:CURRent[:DC]; -113 for anything else.
int SimMultimeter::serveFunction(const ScpiCommand &command, Function function, QByteArray &reply)
{
    const QByteArray base =
        function == Function::DcVoltage ? "[SENSe]:VOLTage:[DC]" : "[SENSe]:CURRent:[DC]";
    const auto matches = [&command, &base](const char *rest) {
        return command.matches((base + rest).constData());
    };
    Setup &of = setup(function);
    if (matches(":NPLCycles"))
        return setNplc(command, function);
    if (matches(":NPLCycles?")) {
        reply = formatNumber(of.nplc);
        return ScpiError::None;
    }
    if (matches(":RANGe"))
        return setRange(command.firstArgument(), function);
    if (matches(":RANGe?")) {
        reply = formatNumber(rangeInUse(function));
        return ScpiError::None;
    }
    if (matches(":RANGe:AUTO"))
        return setAutoRange(command, function);
    if (matches(":RANGe:AUTO?")) {
        reply = of.range > 0.0 ? "0" : "1";
        return ScpiError::None;
    }
    if (matches(":ZERO:AUTO") || matches(":ZERO:AUTO?"))
        return onOff(command, zeroAuto, reply);
    if (function == Function::DcVoltage &&
        (matches(":IMPedance:AUTO") || matches(":IMPedance:AUTO?")))
        return onOff(command, impedanceAuto, reply);
    return ScpiError::UndefinedHeader;
}

// ON|OFF|1|0 (ONCE counts as OFF afterwards), or the query of the setting.
int SimMultimeter::onOff(const ScpiCommand &command, bool &setting, QByteArray &reply)
{
    if (command.isQuery()) {
        reply = setting ? "1" : "0";
        return ScpiError::None;
    }
    if (command.firstArgument().toUpper() == "ONCE") {
        setting = false;
        return ScpiError::None;
    }
    return command.argumentAsBoolean(setting) ? ScpiError::None : ScpiError::IllegalParameterValue;
}

int SimMultimeter::execute(const ScpiCommand &command, QByteArray &reply)
{
    using namespace ScpiError;
    if (command.matches("*IDN?")) {
        reply = "BenchSim,34461A,SIM0001,A.02.14";
        return None;
    }
    if (command.matches("*RST")) {
        reset();
        return None;
    }
    if (command.matches("CONFigure:VOLTage:[DC]") || command.matches("CONFigure:CURRent:[DC]")) {
        const Function function = functionOf(command, "CONFigure:VOLTage:[DC]");
        configure(function);
        return command.argument().isEmpty() ? None : setRange(command.firstArgument(), function);
    }
    if (command.matches("CONFigure?")) {
        reply = QByteArray(currentFunction == Function::DcVoltage ? "\"VOLT " : "\"CURR ") +
                formatNumber(rangeInUse(currentFunction)) + '"';
        return None;
    }
    for (Function function : {Function::DcVoltage, Function::DcCurrent}) {
        const int error = serveFunction(command, function, reply);
        if (error != UndefinedHeader)
            return error;
    }
    if (command.matches("[SENSe]:ZERO:AUTO") || command.matches("[SENSe]:ZERO:AUTO?"))
        return onOff(command, zeroAuto, reply);
    if (command.matches("READ?")) {
        reply = takeReading();
        return None;
    }
    if (command.matches("INITiate:[IMMediate]")) {
        takeReading();
        return None;
    }
    if (command.matches("FETCh?")) {
        if (!memory)
            return DataStale;
        reply = *memory;
        return None;
    }
    if (command.matches("MEASure:VOLTage:[DC]?") || command.matches("MEASure:CURRent:[DC]?")) {
        const Function function = functionOf(command, "MEASure:VOLTage:[DC]?");
        configure(function);
        if (!command.argument().isEmpty()) {
            if (const int error = setRange(command.firstArgument(), function))
                return error;
        }
        reply = takeReading();
        return None;
    }
    if (command.matches("MEASure:DVM:[DC]?")) {
        reply = takeReading();
        return None;
    }
    return UndefinedHeader;
}
