#include "tools/benchsim/SimInstrument.h"

#include "tools/benchsim/ScpiCommand.h"
#include "tools/benchsim/ScpiError.h"

namespace {

// A register mask argument: a whole number from 0 to 255.
bool maskArgument(const ScpiCommand &command, quint8 &mask)
{
    double value = 0.0;
    if (!command.argumentAsNumber(value) || value != double(qint64(value)) || value < 0.0 ||
        value > 255.0)
        return false;
    mask = quint8(value);
    return true;
}

} // namespace

SimInstrument::Response SimInstrument::respond(const QByteArray &line, bool messageAvailable)
{
    busy = 0;
    QList<QByteArray> replies;
    for (const ScpiCommand &command : ScpiCommand::parseLine(line)) {
        QByteArray reply;
        int error = ScpiError::None;
        if (!executeCommon(command, messageAvailable, reply, error))
            error = execute(command, reply);
        if (error != ScpiError::None) {
            registers.pushError(error);
            continue;
        }
        if (command.isQuery())
            replies.append(reply);
    }
    Response response;
    response.busyMicros = busy;
    if (!replies.isEmpty())
        response.reply = replies.join(';') + '\n';
    return response;
}

qint64 SimInstrument::trigger()
{
    busy = 0;
    triggered();
    return busy;
}

bool SimInstrument::executeCommon(const ScpiCommand &command, bool messageAvailable,
                                  QByteArray &reply, int &error)
{
    quint8 mask = 0;
    if (command.matches("*CLS")) {
        registers.clear();
    } else if (command.matches("*ESE")) {
        if (maskArgument(command, mask))
            registers.setEventEnable(mask);
        else
            error = ScpiError::DataOutOfRange;
    } else if (command.matches("*ESE?")) {
        reply = QByteArray::number(registers.eventEnable());
    } else if (command.matches("*ESR?")) {
        reply = QByteArray::number(registers.takeEventStatus());
    } else if (command.matches("*SRE")) {
        if (maskArgument(command, mask))
            registers.setServiceEnable(mask);
        else
            error = ScpiError::DataOutOfRange;
    } else if (command.matches("*SRE?")) {
        reply = QByteArray::number(registers.serviceEnable());
    } else if (command.matches("*STB?")) {
        reply = QByteArray::number(registers.statusByte(messageAvailable));
    } else if (command.matches("*OPC")) {
        // Commands run one after the other: what came before is complete.
        registers.setEvents(StatusRegisters::OperationComplete);
    } else if (command.matches("*OPC?")) {
        reply = "1";
    } else if (command.matches("*WAI")) {
        // Nothing overlaps: there is nothing to wait for.
    } else if (command.matches("*TRG")) {
        triggered();
    } else if (command.matches("SYSTem:ERRor:[NEXT]?")) {
        reply = registers.takeError();
    } else if (command.matches("SYSTem:ERRor:COUNt?")) {
        reply = QByteArray::number(registers.errorCount());
    } else {
        return false;
    }
    return true;
}
