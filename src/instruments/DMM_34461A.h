#pragma once

#include "instruments/visa/visa.h"

#include <QList>
#include <QObject>
#include <QString>

// Driver of the bench digital multimeter. Reads its resource string from
// TestContext.dmm.address and keeps TestContext.dmm.connected up to date;
// every I/O call does nothing while that flag is false.
class DMM_34461A : public QObject
{
    Q_OBJECT

public:
    DMM_34461A();
    ~DMM_34461A() override;

    // Opens the session and checks that the meter answers "*IDN?".
    bool Connect();
    void Write(QString command);
    QString Read();
    QString Query(QString command);
    QString GetIDN();
    QString GetDVMVolt();
    bool Close();
    // The meter's answer to *IDN? at the last Connect, as it came.
    QString identityReply() const { return identity; }

private:
    QString readReply();
    [[nodiscard]] bool sendBytes(const char *bytes, ViUInt32 count);
    [[nodiscard]] bool bringBackInStep();
    [[nodiscard]] bool reconnect();
    bool extraReplyWaiting();

    ViSession defaultRM = VI_NULL;
    ViSession vi = VI_NULL;
    // A reply may still be on its way, or one came with more than was asked
    // for: the next reply read could belong to an earlier query.
    bool outOfStep = false;
    // Reads on this link address nobody (a raw socket, a serial line), so
    // looking for bytes that came with a reply cannot disturb the meter.
    bool passiveReads = false;
    QString identity; // the *IDN? reply, the marker that ends a resynchronisation
    // The connection dropped: it is opened again before the next command.
    bool connectionLost = false;
    QList<QByteArray> setupSent; // commands written since Connect, sent again on reconnecting
};
