#include "engine/RunPorts.h"

#include "context/TestContext.h"
#include "instruments/DMM_34461A.h"
#include "instruments/PWR_66309D.h"
#include "results/FileSystemCalls.h"
#include "serial/UART.h"

MeterPort::~MeterPort() = default;
BoardPort::~BoardPort() = default;
SupplyPort::~SupplyPort() = default;

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
    void limitExchanges(int ms) override { driver.limitExchanges(ViUInt32(qMax(ms, 0))); }
    QString connectFailure() const override { return driver.connectFailure(); }

private:
    DMM_34461A driver;
};

// The bench supply through its driver's session of its own: no output is
// touched but by the run, and TestContext is not read.
class DriverSupply final : public SupplyPort
{
public:
    void limitExchanges(int ms) override
    {
        limitMs = ViUInt32(qMax(ms, 0));
        driver.SetTimeout(limitMs);
    }
    bool connect(const QString &resource, QString *error) override
    {
        return driver.OpenSession(resource, limitMs, error);
    }
    QString identity() const override { return driver.Identity(); }
    bool setLevels(int channel, double volts, double amperes) override
    {
        return driver.SetLevels(quint8(channel), volts, amperes);
    }
    QString nextError() override { return driver.NextError(); }
    bool setOutput(int channel, bool on) override { return driver.SetOutput(quint8(channel), on); }
    std::optional<bool> isOutputOn(int channel) override
    {
        const QString state = driver.OutputState(quint8(channel));
        if (state == QLatin1String("1") ||
            state.compare(QLatin1String("ON"), Qt::CaseInsensitive) == 0)
            return true;
        if (state == QLatin1String("0") ||
            state.compare(QLatin1String("OFF"), Qt::CaseInsensitive) == 0)
            return false;
        return std::nullopt;
    }
    QString measureCurrent(int channel) override { return driver.MeasureCurrent(quint8(channel)); }
    bool lastReplyStands() override { return driver.LinkQuiet(); }
    void close() override { driver.CloseSession(); }

private:
    PWR_66309D driver;
    ViUInt32 limitMs = 0;
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
    ports.supply = [] {
        return std::make_unique<DriverSupply>();
    };
    ports.fileSystem = &FileSystemCalls::system();
    return ports;
}
