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

private:
    ViSession defaultRM = VI_NULL;
    ViSession vi = VI_NULL;
};
