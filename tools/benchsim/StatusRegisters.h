#pragma once

#include <QByteArray>
#include <QList>

// The IEEE 488.2 status model of one simulated instrument: the standard event
// status register (ESR) with its enable mask (*ESE), the SCPI error queue,
// and the status byte they summarise, with its service request enable mask
// (*SRE).
//
// Status byte: bit 2 the error queue holds an entry, bit 4 MAV (a reply waits
// to be read; only the transport knows), bit 5 ESB (ESR & ESE), bit 6 MSS
// (status byte & SRE, bit 6 left out) in *STB? and RQS in a serial poll.
class StatusRegisters
{
public:
    enum Event : quint8
    {
        OperationComplete = 0x01,
        QueryError = 0x04,
        DeviceError = 0x08,
        ExecutionError = 0x10,
        CommandError = 0x20,
        PowerOn = 0x80,
    };
    enum Summary : quint8
    {
        ErrorQueueBit = 0x04,
        MessageAvailable = 0x10,
        EventSummary = 0x20,
        ServiceRequest = 0x40, // MSS in *STB?, RQS in a serial poll
    };

    static constexpr int ErrorQueueCapacity = 20;

    // Appends "<code>,\"<text>\"" and sets the event bit of the code's class
    // (-1xx command, -2xx execution, -3xx and positive device, -4xx query).
    // A full queue keeps its first entries, its last one becomes -350 "Queue
    // overflow", and further errors are lost.
    void pushError(int code);
    // The oldest entry, or +0,"No error".
    QByteArray takeError();
    int errorCount() const { return int(errorQueue.size()); }
    QList<QByteArray> errors() const { return errorQueue; }

    void setEvents(quint8 bits) { eventStatus |= bits; }
    // *ESR?: reads and clears the register.
    quint8 takeEventStatus();
    quint8 eventEnable() const { return eventMask; }
    void setEventEnable(quint8 mask) { eventMask = mask; }
    quint8 serviceEnable() const { return serviceMask; }
    void setServiceEnable(quint8 mask) { serviceMask = mask & quint8(~ServiceRequest); }

    // *CLS: the event register and the error queue are emptied; the masks stay.
    void clear();

    // *STB?: the summary with MSS in bit 6; reading it changes nothing.
    quint8 statusByte(bool messageAvailable) const;
    // A serial poll (VXI-11 device_readstb, HiSLIP status query): bit 6 is
    // RQS, set in the first poll after service came to be requested and
    // clear in later polls while the request stands.
    quint8 serialPoll(bool messageAvailable);

    // "-113,\"Undefined header\"" for the codes the simulator uses.
    static QByteArray errorText(int code);

private:
    QList<QByteArray> errorQueue;
    quint8 eventStatus = PowerOn;
    quint8 eventMask = 0;
    quint8 serviceMask = 0;
    bool requestReported = false;
};
