#pragma once

#include "tools/benchsim/FaultMode.h"

#include <QByteArray>
#include <QString>

class SimInstrument;
class Transcript;

// What happens to one received line, the same over every transport: it is
// recorded, the instrument answers it, and the fault mode shapes the answer.
class InstrumentFrontEnd
{
public:
    // What the transport is to do after a line.
    struct Reply
    {
        QByteArray bytes;        // nothing to send when empty
        int delayMs = 0;         // send this much later
        bool closeAfter = false; // close the connection after sending (or at once)
    };

    InstrumentFrontEnd(const QString &key, SimInstrument &instrument, Transcript &transcript,
                       FaultMode fault);

    QString key() const { return instrumentKey; }
    FaultMode fault() const { return faultMode; }
    void setFault(FaultMode mode) { faultMode = mode; }

    // The status byte bits the instrument sets itself: EAV (4) while its
    // error queue holds an entry. Transports add what they know (MAV).
    quint8 statusByte() const;

    // `repliesSent` counts the replies on this connection so far.
    Reply handleLine(const QByteArray &line, int &repliesSent);

private:
    QString instrumentKey;
    SimInstrument &instrument;
    Transcript &transcript;
    FaultMode faultMode;
};
