#include "engine/RunPorts.h"

#include "context/TestContext.h"
#include "instruments/DMM_34461A.h"
#include "results/FileSystemCalls.h"
#include "serial/UART.h"

MeterPort::~MeterPort() = default;
BoardPort::~BoardPort() = default;

namespace {

// The bench multimeter through its driver, which reads its address from
// TestContext.
class DriverMeter final : public MeterPort
{
public:
    bool connect(const QString &address) override
    {
        // The window has set it already; the runner's address goes in here.
        if (TestContext.dmm.address != address)
            TestContext.dmm.address = address;
        return driver.Connect();
    }
    QString identity() const override { return driver.identityReply(); }
    void write(const QString &command) override { driver.Write(command); }
    QString query(const QString &command) override { return driver.Query(command); }
    quint64 lastReply() const override { return driver.lastReplyNumber(); }
    ReplyState replyState(quint64 reply) const override
    {
        switch (driver.replyState(reply)) {
        case DMM_34461A::ReplyState::Open:
            return ReplyState::Open;
        case DMM_34461A::ReplyState::Confirmed:
            return ReplyState::Confirmed;
        case DMM_34461A::ReplyState::Disowned:
            break;
        }
        return ReplyState::Disowned;
    }
    void settleLink() override { driver.SettleLink(); }
    void abort() override { driver.Abort(); }
    void close() override { driver.Close(); }

private:
    DMM_34461A driver;
};

// The board on the one serial port object of the record.
class SerialBoard final : public BoardPort
{
public:
    explicit SerialBoard(SerialConfig *serial) : serial(serial) {}
    bool open(QString *error) override
    {
        if (uart.Open(*serial) == 0)
            return true;
        *error = QStringLiteral("cannot open serial port %1: %2")
                     .arg(serial->portName.isEmpty() ? serial->port.portName() : serial->portName,
                          serial->port.errorString());
        return false;
    }
    bool send(qint32 value) override { return uart.SendValue(*serial, value); }
    void close() override { uart.Close(*serial); }
    QString device() const override { return serial->port.portName(); }

private:
    SerialConfig *serial;
    UART uart;
};

} // namespace

RunPorts RunPorts::real(SerialConfig *serial)
{
    RunPorts ports;
    ports.meter = [] {
        return std::make_unique<DriverMeter>();
    };
    if (serial)
        ports.board = [serial] {
            return std::make_unique<SerialBoard>(serial);
        };
    ports.fileSystem = &FileSystemCalls::system();
    return ports;
}
