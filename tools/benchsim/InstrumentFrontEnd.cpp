#include "tools/benchsim/InstrumentFrontEnd.h"

#include "tools/benchsim/SimInstrument.h"
#include "tools/benchsim/Transcript.h"

InstrumentFrontEnd::InstrumentFrontEnd(const QString &key, SimInstrument &instrument,
                                       Transcript &transcript, FaultMode fault)
    : instrumentKey(key), instrument(instrument), transcript(transcript), faultMode(fault)
{}

quint8 InstrumentFrontEnd::statusByte() const
{
    return instrument.statusByte();
}

InstrumentFrontEnd::Reply InstrumentFrontEnd::handleLine(const QByteArray &line, int &repliesSent)
{
    transcript.record(instrumentKey, line);
    const QByteArray answer = instrument.respond(line);
    Reply reply;
    if (answer.isEmpty())
        return reply;

    switch (faultMode.kind) {
    case FaultMode::Kind::Silent:
        return reply;
    case FaultMode::Kind::Slow:
        reply.delayMs = faultMode.value;
        break;
    case FaultMode::Kind::Disconnect:
        if (repliesSent >= faultMode.value) {
            reply.closeAfter = true; // the limit was reached: hang up instead of answering
            return reply;
        }
        reply.closeAfter = repliesSent + 1 == faultMode.value;
        break;
    default:
        break;
    }
    reply.bytes = faultMode.shape(answer);
    ++repliesSent;
    return reply;
}
