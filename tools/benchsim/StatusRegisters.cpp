#include "tools/benchsim/StatusRegisters.h"

#include "tools/benchsim/ScpiError.h"

QByteArray StatusRegisters::errorText(int code)
{
    return QByteArray::number(code) + ",\"" + ScpiError::message(code) + '"';
}

void StatusRegisters::pushError(int code)
{
    if (code <= -100 && code > -200)
        eventStatus |= CommandError;
    else if (code <= -200 && code > -300)
        eventStatus |= ExecutionError;
    else if (code <= -400 && code > -500)
        eventStatus |= QueryError;
    else
        eventStatus |= DeviceError;

    if (errorQueue.size() < ErrorQueueCapacity) {
        errorQueue.append(errorText(code));
        return;
    }
    const QByteArray overflow = errorText(ScpiError::QueueOverflow);
    if (errorQueue.last() != overflow) {
        errorQueue.last() = overflow;
        eventStatus |= DeviceError;
    }
}

QByteArray StatusRegisters::takeError()
{
    return errorQueue.isEmpty() ? QByteArray("+0,\"No error\"") : errorQueue.takeFirst();
}

quint8 StatusRegisters::takeEventStatus()
{
    const quint8 value = eventStatus;
    eventStatus = 0;
    return value;
}

void StatusRegisters::clear()
{
    eventStatus = 0;
    errorQueue.clear();
}

quint8 StatusRegisters::statusByte(bool messageAvailable) const
{
    quint8 status = 0;
    if (!errorQueue.isEmpty())
        status |= ErrorQueueBit;
    if (messageAvailable)
        status |= MessageAvailable;
    if (eventStatus & eventMask)
        status |= EventSummary;
    if (status & serviceMask)
        status |= ServiceRequest;
    return status;
}

quint8 StatusRegisters::serialPoll(bool messageAvailable)
{
    quint8 status = statusByte(messageAvailable);
    const bool requesting = status & ServiceRequest;
    if (requesting && requestReported)
        status &= quint8(~ServiceRequest);
    requestReported = requesting;
    return status;
}
