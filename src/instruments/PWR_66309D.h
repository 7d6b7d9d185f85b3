#pragma once

#include "instruments/visa/visa.h"

#include <QObject>
#include <QString>

// Driver of the dual-output DC power supply. Reads its resource string from
// TestContext.pwr.address and keeps TestContext.pwr.connected up to date.
class PWR_66309D : public QObject
{
    Q_OBJECT

public:
    PWR_66309D();
    ~PWR_66309D() override;

    bool Connect();
    bool Close();
    QString GetIDN();
    QString GetDVMVolt();
    void SetCurrent(quint8 output, double value);
    void SetVoltage(quint8 output, double value);

    // A run that powers its board drives the supply with what follows. None
    // of it touches an output by itself (Connect switches output 2 on) or
    // reads TestContext, and every exchange is checked and ends by the
    // session's timeout. On a raw socket or a serial line, where nothing
    // pairs a reply with its query, whatever arrives unasked before a query
    // is dropped, and a reply that came late or with more lines puts the
    // link out of step: before the next command, *IDN? is sent and every
    // line up to the identity dropped.

    // Opens a session to `address` (the open bounded by `timeoutMs`) and asks
    // its identity: false with the reason, as the end of a sentence about the
    // supply, when it cannot be opened or does not answer.
    bool OpenSession(const QString &address, ViUInt32 timeoutMs, QString *error);
    // The identity the supply answered, without its line end.
    QString Identity() const { return identity; }
    // The I/O timeout from here on; 0 gives back the session's own.
    void SetTimeout(ViUInt32 ms);
    // VOLTn and CURRn in one go: false when either did not go out.
    bool SetLevels(quint8 output, double volts, double amperes);
    bool SetOutput(quint8 output, bool on);
    // The replies, without their line end; empty when none came.
    QString OutputState(quint8 output);
    QString MeasureCurrent(quint8 output);
    QString NextError();
    // Looks at the link without a word to the supply: false when a line
    // nobody asked for has arrived since the last reply (it is dropped).
    bool LinkQuiet();
    // Closes the session without a word to the supply.
    void CloseSession();

private:
    bool send(const QByteArray &line);
    QString ask(const QByteArray &line);
    QString readLine(ViStatus *status);
    QByteArray takeWhatArrived();
    bool bringBackInStep();

    ViSession defaultRM = VI_NULL;
    ViSession vi = VI_NULL;
    QString identity;
    bool passiveReads = false; // raw socket or serial line
    bool outOfStep = false;
    ViUInt32 sessionTimeoutMs = 2000;
};
