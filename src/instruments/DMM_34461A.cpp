#include "DMM_34461A.h"

#include "TestContext.h"

#include <QByteArray>
#include <QDebug>
#include <QThread>

#include <cstring>

namespace {

// Replies are read with count 200 into a zeroed 256-byte buffer, so the
// text always ends in a NUL; a NUL inside the reply cuts it there.
QString readReply(ViSession vi)
{
    char buffer[256];
    std::memset(buffer, 0, sizeof buffer);
    ViUInt32 count = 0;
    viRead(vi, reinterpret_cast<ViPBuf>(buffer), 200, &count);
    return QString::fromUtf8(buffer);
}

void writeBytes(ViSession vi, const char *bytes, ViUInt32 count)
{
    ViUInt32 written = 0;
    viWrite(vi, reinterpret_cast<ViConstBuf>(bytes), count, &written);
}

} // namespace

DMM_34461A::DMM_34461A() = default;

DMM_34461A::~DMM_34461A()
{
    TestContext.dmm.connected = false;
    if (viClose(defaultRM) == VI_SUCCESS)
        viClose(vi);
}

bool DMM_34461A::Connect()
{
    if (!TestContext.dmm.connected) {
        qDebug() << QString("DMM_34461A: Connect [" + TestContext.dmm.address + "]");
        viOpenDefaultRM(&defaultRM);
        const QByteArray address = TestContext.dmm.address.toUtf8();
        if (viOpen(defaultRM, address.constData(), 0, 2000, &vi) != VI_SUCCESS) {
            qDebug() << "DMM_34461A: Connect Failed";
            return false;
        }
        TestContext.dmm.connected = true;
    }

    const QString identity = Query("*IDN?");
    if (identity.isEmpty()) {
        qDebug() << "DMM_34461A: Comm Failed";
        TestContext.dmm.connected = false;
        return false;
    }
    qDebug() << QString("DMM_34461A: Connected [" + identity + "]");
    Write("*CLS");
    return true;
}

void DMM_34461A::Write(QString command)
{
    command += "\n";
    const QByteArray bytes = command.toLatin1();
    if (!TestContext.dmm.connected)
        return;
    // One byte per character: the count is the number of characters.
    writeBytes(vi, bytes.constData(), ViUInt32(bytes.size()));
}

QString DMM_34461A::Read()
{
    if (!TestContext.dmm.connected)
        return QString();
    return readReply(vi);
}

QString DMM_34461A::Query(QString command)
{
    Write(command);
    return Read();
}

QString DMM_34461A::GetIDN()
{
    if (!TestContext.dmm.connected)
        return QString();
    writeBytes(vi, "*IDN?\n", 6);
    return readReply(vi);
}

QString DMM_34461A::GetDVMVolt()
{
    if (!TestContext.dmm.connected)
        return QString();
    writeBytes(vi, "MEAS:DVM:DC?\n", 13);
    QThread::msleep(100);
    return readReply(vi);
}

bool DMM_34461A::Close()
{
    TestContext.dmm.connected = false;
    if (viClose(defaultRM) != VI_SUCCESS)
        return false;
    return viClose(vi) == VI_SUCCESS;
}
