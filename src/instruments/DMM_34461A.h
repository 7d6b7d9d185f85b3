#pragma once

#include "visa/visa.h"

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

private:
    QString readReply();
    void sendBytes(const char *bytes, ViUInt32 count);
    void dropOverdueReply();

    ViSession defaultRM = VI_NULL;
    ViSession vi = VI_NULL;
    bool replyOverdue = false; // a read timed out; its reply may still come in
};
