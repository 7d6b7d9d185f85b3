#include "tools/benchsim/InstrumentFrontEnd.h"

#include "tools/benchsim/ReplyQueue.h"
#include "tools/benchsim/SimInstrument.h"
#include "tools/benchsim/Transcript.h"

InstrumentFrontEnd::InstrumentFrontEnd(const QString &key, SimInstrument &instrument,
                                       Transcript &transcript, FaultMode fault)
    : instrumentKey(key), instrument(instrument), transcript(transcript), faultMode(fault)
{}

quint8 InstrumentFrontEnd::serialPoll(bool messageAvailable)
{
    return instrument.serialPoll(messageAvailable);
}

qint64 InstrumentFrontEnd::occupy(Connection &connection, qint64 micros)
{
    connection.busyUntilNs =
        qMax(connection.busyUntilNs, ReplyQueue::monotonicNow()) + micros * 1000;
    return connection.busyUntilNs;
}

void InstrumentFrontEnd::handleOverlongLine(const QByteArray &start)
{
    transcript.record(instrumentKey, start);
    instrument.inputOverrun();
}

void InstrumentFrontEnd::trigger(Connection &connection)
{
    occupy(connection, instrument.trigger());
}

void InstrumentFrontEnd::repliesDropped()
{
    instrument.queryDeadlocked();
}

InstrumentFrontEnd::Reply InstrumentFrontEnd::handleLine(const QByteArray &line,
                                                         Connection &connection,
                                                         bool messageAvailable)
{
    transcript.record(instrumentKey, line);
    const SimInstrument::Response response = instrument.respond(line, messageAvailable);
    Reply reply;
    reply.dueNs = occupy(connection, response.busyMicros);
    if (response.reply.isEmpty())
        return reply;

    switch (faultMode.kind) {
    case FaultMode::Kind::Silent:
        return reply;
    case FaultMode::Kind::Slow:
        // A late answer; the instrument itself is free again.
        reply.dueNs += qint64(faultMode.value) * 1000000;
        break;
    case FaultMode::Kind::Disconnect:
        if (connection.repliesSent >= faultMode.value) {
            reply.closeAfter = true; // the limit was reached: hang up instead of answering
            return reply;
        }
        reply.closeAfter = connection.repliesSent + 1 == faultMode.value;
        break;
    default:
        break;
    }
    reply.bytes = faultMode.shape(response.reply);
    ++connection.repliesSent;
    return reply;
}
