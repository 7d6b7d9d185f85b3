#include "instruments/PWR_66309D.h"

#include "context/TestContext.h"

#include <QByteArray>
#include <QDebug>
#include <QLoggingCategory>
#include <QThread>

#include <cstring>

Q_LOGGING_CATEGORY(lcPwr, "benchtest.pwr")

namespace {

// Reads with count 200 into a zeroed 256-byte buffer and keeps the bytes
// before the first NUL.
QString readReply(ViSession vi)
{
    char buffer[256];
    std::memset(buffer, 0, sizeof buffer);
    ViUInt32 count = 0;
    viRead(vi, reinterpret_cast<ViPBuf>(buffer), 200, &count);
    return QString::fromUtf8(buffer);
}

ViStatus writeBytes(ViSession vi, const char *bytes, ViUInt32 count)
{
    ViUInt32 written = 0;
    return viWrite(vi, reinterpret_cast<ViConstBuf>(bytes), count, &written);
}

// "CURR1 0.5\n": the output in decimal, the value as QString::arg formats a
// double ('g', 6 significant digits).
QString setterLine(const char *keyword, quint8 output, double value)
{
    return keyword + QString("%1 %2\n").arg(uint(output)).arg(value);
}

} // namespace

PWR_66309D::PWR_66309D() = default;

PWR_66309D::~PWR_66309D()
{
    Close();
}

bool PWR_66309D::Connect()
{
    if (!TestContext.pwr.connected) {
        qCDebug(lcPwr) << QString("PWR_66309D: Connect [" + TestContext.pwr.address + "]");
        viOpenDefaultRM(&defaultRM);
        const QByteArray address = TestContext.pwr.address.toUtf8();
        if (viOpen(defaultRM, address.constData(), 0, 2000, &vi) != VI_SUCCESS) {
            qCDebug(lcPwr) << "PWR_66309D: ERROR Connect Failed";
            return false;
        }
    }

    viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, 1);
    if (writeBytes(vi, "*TST?\n", 6) != VI_SUCCESS) {
        qCDebug(lcPwr) << "PWR_66309D: ERROR Send Failed";
        return false;
    }
    qCDebug(lcPwr) << "PWR_66309D: Connect Successed";
    TestContext.pwr.connected = true;

    readReply(vi); // the self-test result is not looked at
    writeBytes(vi, "DISP:CHAN 2\n", 12);
    writeBytes(vi, "VOLT2 2.5\n", 10);
    writeBytes(vi, "OUTP2 ON\n", 9);
    return true;
}

bool PWR_66309D::Close()
{
    TestContext.pwr.connected = false;
    writeBytes(vi, "OUTP1 OFF\n", 10);
    writeBytes(vi, "OUTP2 OFF\n", 10);
    if (viClose(defaultRM) != VI_SUCCESS)
        return false;
    return viClose(vi) == VI_SUCCESS;
}

QString PWR_66309D::GetIDN()
{
    if (!TestContext.pwr.connected)
        return QString();
    writeBytes(vi, "*IDN?\n", 6);
    return readReply(vi);
}

QString PWR_66309D::GetDVMVolt()
{
    if (!TestContext.pwr.connected)
        return QString();
    writeBytes(vi, "MEAS:DVM:DC?\n", 13);
    QThread::msleep(100);
    return readReply(vi);
}

void PWR_66309D::SetCurrent(quint8 output, double value)
{
    const QString line = setterLine("CURR", output, value);
    if (!TestContext.pwr.connected)
        return;
    const QByteArray bytes = line.toLatin1();
    writeBytes(vi, bytes.constData(), ViUInt32(bytes.size()));
}

void PWR_66309D::SetVoltage(quint8 output, double value)
{
    const QString line = setterLine("VOLT", output, value);
    if (!TestContext.pwr.connected)
        return;
    const QByteArray bytes = line.toLatin1();
    writeBytes(vi, bytes.constData(), ViUInt32(bytes.size()));
}
