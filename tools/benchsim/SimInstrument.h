#pragma once

#include "tools/benchsim/ScpiError.h"
#include "tools/benchsim/StatusRegisters.h"

#include <QByteArray>
#include <QList>
#include <QString>

class ScpiCommand;

// A simulated SCPI instrument: takes one received line, changes its state
// and gives the reply line, if the line held queries, and the time the
// instrument spends on it. The IEEE 488.2 common commands (*CLS, *ESE, *ESR?,
// *OPC, *SRE, *STB?, *TRG, *WAI) and SYST:ERR? are the same for every
// instrument; a command it does not know puts -113 "Undefined header" in
// the error queue.
class SimInstrument
{
public:
    struct Response
    {
        QByteArray reply;      // ends in '\n'; empty when nothing is to be said
        qint64 busyMicros = 0; // how long the instrument works on the line
    };

    virtual ~SimInstrument() = default;

    // The reply to `line`; replies to several queries on one line are joined
    // with ';'. `messageAvailable` is the MAV bit *STB? reports: whether a
    // reply is still waiting to be read, which only the transport knows.
    Response respond(const QByteArray &line, bool messageAvailable = false);
    // A trigger from the bus (VXI-11 device_trigger, HiSLIP Trigger), like
    // *TRG; returns how long the instrument works on it.
    qint64 trigger();
    // A line longer than the input buffer arrived: it is not executed and
    // -363 "Input buffer overrun" goes into the error queue.
    void inputOverrun() { registers.pushError(ScpiError::InputBufferOverrun); }
    // Replies were thrown away because nobody read them.
    void queryDeadlocked() { registers.pushError(ScpiError::QueryDeadlocked); }

    // A serial poll's status byte: RQS in bit 6 (see StatusRegisters).
    quint8 serialPoll(bool messageAvailable) { return registers.serialPoll(messageAvailable); }
    // SCPI error queue ("-113,\"Undefined header\"").
    QList<QByteArray> errors() const { return registers.errors(); }

    // Off: every command takes no time (benchsim --fast).
    void setTakesTime(bool on) { timed = on; }
    bool takesTime() const { return timed; }

protected:
    // Handles one command; sets `reply` for a query. Returns 0, or the SCPI
    // error the command causes (ScpiError), e.g. -113 when it is unknown.
    virtual int execute(const ScpiCommand &command, QByteArray &reply) = 0;
    // What *TRG and a bus trigger do (nothing unless overridden).
    virtual void triggered() {}
    // The instrument spends this long on the command being executed.
    void spend(qint64 micros)
    {
        if (timed)
            busy += micros;
    }

private:
    // *CLS, *ESE, *ESR?, *OPC, *OPC?, *SRE, *STB?, *TRG, *WAI, SYST:ERR?;
    // false when `command` is none of them.
    bool executeCommon(const ScpiCommand &command, bool messageAvailable, QByteArray &reply,
                       int &error);

    StatusRegisters registers;
    bool timed = true;
    qint64 busy = 0;
};
