#include "serial/UART.h"

#include "context/TestContext.h"
#include "serial/ValueFrame.h"

#include <QDebug>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcUart, "benchtest.uart")

UART::UART() = default;

// Leaves the port as it is: the owner closes it with Close().
UART::~UART() = default;

// A device path the system list does not show (a pseudo-terminal, a by-id link)
// arrives as a port name with no port description; keep that name then.
static void assignChosenPort(SerialConfig &cfg)
{
    if (!cfg.portInfo.isNull())
        cfg.port.setPort(cfg.portInfo);
}

int UART::Open(SerialConfig &cfg)
{
    assignChosenPort(cfg);
    cfg.port.setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    cfg.port.setParity(QSerialPort::NoParity);
    cfg.port.setDataBits(QSerialPort::Data8);
    cfg.port.setStopBits(QSerialPort::OneStop);
    cfg.port.setFlowControl(QSerialPort::NoFlowControl);
    if (!cfg.port.open(QIODevice::ReadWrite)) {
        qCDebug(lcUart) << "UART: OpenFailed";
        return 1;
    }
    return 0;
}

// A frame still in the port's buffer would be thrown away by the close: the
// last value of a run, when the run ends before the event loop sent it.
void UART::Close(SerialConfig &cfg)
{
    if (cfg.port.isOpen())
        cfg.port.flush();
    assignChosenPort(cfg);
    cfg.port.close();
}

namespace {

QString deviceName(const SerialConfig &cfg)
{
    QString device = cfg.port.portName();
#ifdef Q_OS_UNIX
    // The port keeps the name without its device folder.
    if (!device.startsWith(QLatin1Char('/')))
        device.prepend(QStringLiteral("/dev/"));
#endif
    return device;
}

void logSendFailed(const SerialConfig &cfg)
{
    qCDebug(lcUart) << QStringLiteral("UART: Send Failed [%1: %2]")
                           .arg(deviceName(cfg), cfg.port.errorString());
}

} // namespace

// One write call per frame, handed on to the driver at once. A port that was
// never open drops the frame (its open failure was logged). A frame that
// fails (the adapter pulled out, the device gone) is reported at once, so
// every lost frame has its line, the last one included; the port is then
// opened again at each later send, and used as soon as the device is back.
bool UART::SendValue(SerialConfig &cfg, qint32 value)
{
    const QByteArray frame = ValueFrame::encode(value);
    if (deviceLost && !reopen(cfg)) {
        logSendFailed(cfg);
        return false;
    }
    if (!cfg.port.isOpen()) {
        cfg.port.write(frame); // refused, as a closed port does
        return false;
    }
    cfg.port.clearError();
    const bool taken = cfg.port.write(frame) == frame.size();
    // Hand the frame to the driver at once: the settle wait counts from the
    // end of this step, and a short one must not end before the frame left.
    if (cfg.port.isOpen())
        cfg.port.flush();
    if (taken && cfg.port.error() == QSerialPort::NoError)
        return true;

    logSendFailed(cfg);
    cfg.port.clearError();
    cfg.port.close();
    deviceLost = true;
    return false;
}

bool UART::reopen(SerialConfig &cfg)
{
    cfg.port.close();
    if (!cfg.port.open(QIODevice::ReadWrite))
        return false;
    deviceLost = false;
    qCDebug(lcUart) << QStringLiteral("UART: Reopened [%1]").arg(deviceName(cfg));
    return true;
}

// Returns 0 and leaves the bytes buffered while fewer than four have arrived,
// so that a frame split across reads is decoded whole by a later call.
// Otherwise takes everything buffered and decodes the first four bytes; the
// checksum and any further bytes are dropped.
qint32 UART::ReceiveValue(SerialConfig &cfg)
{
    if (cfg.port.bytesAvailable() < ValueFrame::ValueBytes)
        return 0;
    return ValueFrame::decodeValue(cfg.port.readAll());
}

void UART::SendString(SerialConfig &cfg, const QString &text)
{
    cfg.port.write(text.toLatin1());
}
