#pragma once

#include "tools/benchsim/FaultMode.h"

#include <QByteArray>
#include <QString>

class SimInstrument;
class Transcript;

// What happens to one received line, the same over every transport: it is
// recorded, the instrument answers it, and the fault mode shapes the answer.
// Each connection (socket client, VXI-11 link, HiSLIP session) has the
// instrument to itself in time: its lines are worked on one after the other,
// each reply due once the instrument has spent its time on the line.
class InstrumentFrontEnd
{
public:
    // What the front end keeps of one connection.
    struct Connection
    {
        int repliesSent = 0;
        qint64 busyUntilNs = 0; // on ReplyQueue::monotonicNow()'s clock
    };

    // What the transport is to do after a line.
    struct Reply
    {
        QByteArray bytes;        // nothing to send when empty
        qint64 dueNs = 0;        // not before this (ReplyQueue::monotonicNow()'s clock)
        bool closeAfter = false; // close the connection after sending (or at once)
    };

    InstrumentFrontEnd(const QString &key, SimInstrument &instrument, Transcript &transcript,
                       FaultMode fault);

    QString key() const { return instrumentKey; }
    FaultMode fault() const { return faultMode; }
    void setFault(FaultMode mode) { faultMode = mode; }

    // `messageAvailable`: a reply of this connection still waits to be read
    // (the MAV bit of *STB?).
    Reply handleLine(const QByteArray &line, Connection &connection, bool messageAvailable = false);
    // A line beyond ClientLimits::MaxLineLength: its first bytes are
    // recorded and the instrument notes the overrun.
    void handleOverlongLine(const QByteArray &start);
    // A trigger from the bus; the connection waits for what it starts.
    void trigger(Connection &connection);
    // Replies a client left unread were dropped.
    void repliesDropped();
    // A serial poll's status byte (bit 4, MAV, from the transport).
    quint8 serialPoll(bool messageAvailable);

private:
    // When work of `micros` started after the connection's earlier work ends.
    qint64 occupy(Connection &connection, qint64 micros);

    QString instrumentKey;
    SimInstrument &instrument;
    Transcript &transcript;
    FaultMode faultMode;
};
