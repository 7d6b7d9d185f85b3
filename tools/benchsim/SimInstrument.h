#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class ScpiCommand;

// A simulated SCPI instrument: takes one received line, changes its state
// and gives the reply line, if the line held queries.
class SimInstrument
{
public:
    virtual ~SimInstrument() = default;

    // The reply to `line` ending in '\n', or empty when nothing is to be said.
    // Replies to several queries on one line are joined with ';'.
    QByteArray respond(const QByteArray &line);

    // The IEEE 488.2 status byte without MAV, which the transport knows:
    // bit 2 while the error queue holds an entry.
    quint8 statusByte() const { return errorQueue.isEmpty() ? 0 : 0x04; }

    // SCPI error queue ("-113,\"Undefined header\"").
    QList<QByteArray> errors() const { return errorQueue; }

protected:
    // Handles one command; sets `reply` for a query. False when the
    // command is unknown or its argument is wrong.
    virtual bool execute(const ScpiCommand &command, QByteArray &reply) = 0;
    // Commands every instrument knows (*CLS, SYST:ERR?, *OPC?).
    bool executeCommon(const ScpiCommand &command, QByteArray &reply);

private:
    QList<QByteArray> errorQueue;
};
