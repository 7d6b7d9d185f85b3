#include "instruments/PWR_66309D.h"

#include "instruments/ArrivedBytes.h"

#include "context/TestContext.h"

#include <QByteArray>
#include <QDebug>
#include <QElapsedTimer>
#include <QLocale>
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

// "VI_ERROR_TMO" of "VI_ERROR_TMO: Timeout expired ...".
QString statusName(ViStatus status)
{
    ViChar text[256] = {};
    viStatusDesc(VI_NULL, status, text);
    return QString::fromLatin1(text).section(QLatin1Char(':'), 0, 0);
}

// The shortest text that reads back as the same number.
QByteArray numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1();
}

// No reply of a supply that answers as asked is this long.
constexpr qsizetype kMaxLineBytes = 4096;

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

bool PWR_66309D::OpenSession(const QString &address, ViUInt32 timeoutMs, QString *error)
{
    CloseSession();
    qCDebug(lcPwr) << QString("PWR_66309D: Open [" + address + "]");
    viOpenDefaultRM(&defaultRM);
    const QByteArray name = address.toUtf8();
    const ViStatus status =
        viOpen(defaultRM, name.constData(), 0, timeoutMs > 0 ? timeoutMs : 2000, &vi);
    if (status != VI_SUCCESS) {
        *error = QStringLiteral("cannot be opened (%1)").arg(statusName(status));
        vi = VI_NULL;
        CloseSession();
        return false;
    }
    viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
    viGetAttribute(vi, VI_ATTR_TMO_VALUE, &sessionTimeoutMs);
    ViChar resourceClass[256] = {};
    ViUInt16 interfaceType = 0;
    viGetAttribute(vi, VI_ATTR_RSRC_CLASS, resourceClass);
    viGetAttribute(vi, VI_ATTR_INTF_TYPE, &interfaceType);
    passiveReads =
        QLatin1String(resourceClass) == QLatin1String("SOCKET") || interfaceType == VI_INTF_ASRL;
    SetTimeout(timeoutMs);
    // What a supply says before it is asked answers nothing.
    if (passiveReads)
        takeWhatArrived();
    identity = ask("*IDN?\n");
    if (identity.isEmpty()) {
        *error = QStringLiteral("does not answer *IDN?");
        CloseSession();
        return false;
    }
    qCDebug(lcPwr) << QString("PWR_66309D: Opened [" + identity + "]");
    return true;
}

void PWR_66309D::SetTimeout(ViUInt32 ms)
{
    if (vi != VI_NULL)
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, ms > 0 ? ms : sessionTimeoutMs);
}

bool PWR_66309D::SetLevels(quint8 output, double volts, double amperes)
{
    const QByteArray channel = QByteArray::number(output);
    const bool voltage = send("VOLT" + channel + ' ' + numberText(volts) + '\n');
    return send("CURR" + channel + ' ' + numberText(amperes) + '\n') && voltage;
}

bool PWR_66309D::SetOutput(quint8 output, bool on)
{
    return send("OUTP" + QByteArray::number(output) + (on ? " ON\n" : " OFF\n"));
}

QString PWR_66309D::OutputState(quint8 output)
{
    return ask("OUTP" + QByteArray::number(output) + "?\n");
}

QString PWR_66309D::MeasureCurrent(quint8 output)
{
    return ask("MEAS:CURR" + QByteArray::number(output) + "?\n");
}

QString PWR_66309D::NextError()
{
    return ask("SYST:ERR?\n");
}

bool PWR_66309D::LinkQuiet()
{
    if (!passiveReads || vi == VI_NULL)
        return true;
    const QByteArray stray = takeWhatArrived();
    if (stray.isEmpty())
        return true;
    qCDebug(lcPwr) << QString("PWR_66309D: Stray Reply [" +
                              QString::fromUtf8(stray).simplified().left(80) + "]");
    return false;
}

void PWR_66309D::CloseSession()
{
    if (vi != VI_NULL)
        viClose(vi);
    if (defaultRM != VI_NULL)
        viClose(defaultRM);
    vi = VI_NULL;
    defaultRM = VI_NULL;
    identity.clear();
    outOfStep = false;
}

bool PWR_66309D::send(const QByteArray &line)
{
    if (vi == VI_NULL || (outOfStep && !bringBackInStep()))
        return false;
    ViUInt32 written = 0;
    const ViStatus status = viWrite(vi, reinterpret_cast<ViConstBuf>(line.constData()),
                                    ViUInt32(line.size()), &written);
    return status >= VI_SUCCESS && written == ViUInt32(line.size());
}

// A reply nobody can pair with its query is no reply: empty.
QString PWR_66309D::ask(const QByteArray &line)
{
    // What came unasked answers nothing; LinkQuiet() drops it.
    if (!outOfStep)
        LinkQuiet();
    if (!send(line))
        return QString();
    ViStatus status = VI_SUCCESS;
    const QString reply = readLine(&status);
    if (status < VI_SUCCESS || status == VI_SUCCESS_MAX_CNT) {
        qCDebug(lcPwr) << QString("PWR_66309D: Read Failed [" + statusName(status) + "]");
        outOfStep = true; // the reply may still be on its way
        return QString();
    }
    if (passiveReads && !takeWhatArrived().isEmpty()) {
        qCDebug(lcPwr) << "PWR_66309D: Reply Has Extra Lines";
        outOfStep = true;
        return QString();
    }
    return reply;
}

QString PWR_66309D::readLine(ViStatus *status)
{
    QByteArray line;
    do {
        char chunk[256];
        ViUInt32 count = 0;
        *status = viRead(vi, reinterpret_cast<ViPBuf>(chunk), sizeof chunk, &count);
        line.append(chunk, qsizetype(count));
    } while (*status == VI_SUCCESS_MAX_CNT && line.size() < kMaxLineBytes);
    return QString::fromUtf8(line).trimmed();
}

// Reads what has arrived, without waiting and without a word on the wire.
QByteArray PWR_66309D::takeWhatArrived()
{
    const ArrivedBytes arrived = ArrivedBytes::take(vi, kMaxLineBytes);
    return arrived.bytes;
}

// Sends *IDN? and drops every line up to the identity: whatever was on its
// way from earlier queries arrives before it.
bool PWR_66309D::bringBackInStep()
{
    outOfStep = false;
    ViUInt32 timeout = sessionTimeoutMs;
    viGetAttribute(vi, VI_ATTR_TMO_VALUE, &timeout);
    ViUInt32 written = 0;
    if (!identity.isEmpty() &&
        viWrite(vi, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &written) >= VI_SUCCESS) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 2 * qint64(timeout)) {
            ViStatus status = VI_SUCCESS;
            const QString line = readLine(&status);
            if (status == VI_ERROR_TMO)
                continue;
            if (status < VI_SUCCESS)
                break;
            if (line == identity) {
                qCDebug(lcPwr) << "PWR_66309D: Back In Step";
                return true;
            }
        }
    }
    qCDebug(lcPwr) << "PWR_66309D: Out Of Step";
    outOfStep = true;
    return false;
}
