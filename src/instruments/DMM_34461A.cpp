#include "DMM_34461A.h"

#include "TestContext.h"

#include <QByteArray>
#include <QDebug>
#include <QLoggingCategory>
#include <QThread>

#include <cstring>

Q_LOGGING_CATEGORY(lcDmm, "benchtest.dmm")

namespace {

// Reading the rest of an over-long reply stops after this many bytes, in
// case the instrument never ends it.
const int kMaxDroppedBytes = 64 * 1024;

QString statusText(ViSession vi, ViStatus status)
{
    ViChar text[256] = {};
    viStatusDesc(vi, status, text);
    return QString::fromLatin1(text);
}

} // namespace

// Replies are read with count 200 into a zeroed 256-byte buffer, so the
// text always ends in a NUL; a NUL inside the reply cuts it there. What the
// reply holds beyond 200 bytes is read and dropped: left in the input it
// would pass for the reply to the next query.
QString DMM_34461A::readReply()
{
    char buffer[256];
    std::memset(buffer, 0, sizeof buffer);
    ViUInt32 count = 0;
    const ViStatus status = viRead(vi, reinterpret_cast<ViPBuf>(buffer), 200, &count);
    if (status < VI_SUCCESS) {
        replyOverdue = status == VI_ERROR_TMO;
        qCDebug(lcDmm) << QString("DMM_34461A: Read Failed [" + statusText(vi, status) + "]");
    } else if (status == VI_SUCCESS_MAX_CNT) {
        qCDebug(lcDmm) << "DMM_34461A: Reply Too Long";
        char rest[256];
        ViUInt32 restCount = 0;
        for (int dropped = 0; dropped < kMaxDroppedBytes; dropped += 200) {
            if (viRead(vi, reinterpret_cast<ViPBuf>(rest), 200, &restCount) != VI_SUCCESS_MAX_CNT)
                break;
        }
    }
    if (std::strlen(buffer) < count)
        qCDebug(lcDmm) << "DMM_34461A: Reply Has NUL";
    return QString::fromUtf8(buffer);
}

void DMM_34461A::sendBytes(const char *bytes, ViUInt32 count)
{
    dropOverdueReply();
    ViUInt32 written = 0;
    viWrite(vi, reinterpret_cast<ViConstBuf>(bytes), count, &written);
}

// A reply that comes in after its read timed out would be taken for the reply
// to the next query, and every later reading would land one query late.
// Whatever has come in since is dropped before the next command goes out.
void DMM_34461A::dropOverdueReply()
{
    if (!replyOverdue)
        return;
    replyOverdue = false;
    ViUInt32 timeout = 0;
    if (viGetAttribute(vi, VI_ATTR_TMO_VALUE, &timeout) != VI_SUCCESS)
        return;
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_IMMEDIATE);
    char scratch[256];
    ViUInt32 count = 0;
    int dropped = 0;
    while (dropped < kMaxDroppedBytes &&
           viRead(vi, reinterpret_cast<ViPBuf>(scratch), 200, &count) >= VI_SUCCESS && count > 0)
        dropped += int(count);
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeout);
    if (dropped > 0)
        qCDebug(lcDmm) << QString("DMM_34461A: Late Reply Dropped [%1 bytes]").arg(dropped);
}

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
        qCDebug(lcDmm) << QString("DMM_34461A: Connect [" + TestContext.dmm.address + "]");
        viOpenDefaultRM(&defaultRM);
        const QByteArray address = TestContext.dmm.address.toUtf8();
        if (viOpen(defaultRM, address.constData(), 0, 2000, &vi) != VI_SUCCESS) {
            qCDebug(lcDmm) << "DMM_34461A: Connect Failed";
            return false;
        }
        TestContext.dmm.connected = true;
    }

    const QString identity = Query("*IDN?");
    if (identity.isEmpty()) {
        qCDebug(lcDmm) << "DMM_34461A: Comm Failed";
        TestContext.dmm.connected = false;
        return false;
    }
    qCDebug(lcDmm) << QString("DMM_34461A: Connected [" + identity + "]");
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
    sendBytes(bytes.constData(), ViUInt32(bytes.size()));
}

QString DMM_34461A::Read()
{
    if (!TestContext.dmm.connected)
        return QString();
    return readReply();
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
    sendBytes("*IDN?\n", 6);
    return readReply();
}

QString DMM_34461A::GetDVMVolt()
{
    if (!TestContext.dmm.connected)
        return QString();
    sendBytes("MEAS:DVM:DC?\n", 13);
    QThread::msleep(100);
    return readReply();
}

bool DMM_34461A::Close()
{
    TestContext.dmm.connected = false;
    if (viClose(defaultRM) != VI_SUCCESS)
        return false;
    return viClose(vi) == VI_SUCCESS;
}
