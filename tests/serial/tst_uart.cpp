// UART against the simulated board over a real pseudo-terminal: what the
// product calls (Open, SendValue, Close); and the value frame it sends.

#include "context/TestContext.h"
#include "serial/UART.h"
#include "serial/ValueFrame.h"
#include "tests/support/ContextReset.h"
#include "tests/support/DeviceNode.h"
#include "tests/support/LogCapture.h"
#include "tools/boardsim/SimulatedBoard.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <limits>
#include <termios.h>
#include <unistd.h>

// Stands for a null device the test makes for itself in a folder of its own.
static const QString kPrivateNullDevice = QStringLiteral("<private null device>");

// Puts the device at settings UART must change: 9600 baud, 2 stop bits,
// hardware and software flow control.
static bool setForeignLineSettings(const QString &devicePath)
{
    const int fd = ::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    termios settings{};
    bool done = tcgetattr(fd, &settings) == 0;
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    settings.c_cflag |= CSTOPB | CRTSCTS;
    settings.c_iflag |= IXON | IXOFF;
    done = done && tcsetattr(fd, TCSANOW, &settings) == 0;
    ::close(fd);
    return done;
}

class TestUart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void open_appliesLineSettings();
    void sendValue_valuesArriveInOrderWithGoodChecksums();
    void close_sendsBufferedBytesAndKeepsTheDevice();
    void open_failure_data();
    void open_failure();
    void valueFrame();

private:
    void openBoardPort();

    SimulatedBoard *board = nullptr;
    UART uart;
};

void TestUart::init()
{
    resetTestContext();
    board = new SimulatedBoard;
    QString error;
    QVERIFY2(board->start(&error), qPrintable(error));
    board->setQuietTimeout(20);
}

void TestUart::cleanup()
{
    resetTestContext();
    delete board;
    board = nullptr;
}

// As the window assigns a device the system list does not show: by name only.
void TestUart::openBoardPort()
{
    TestContext.uart.port.setPortName(board->devicePath());
    QCOMPARE(uart.Open(TestContext.uart), 0);
}

void TestUart::open_appliesLineSettings()
{
    QVERIFY(setForeignLineSettings(board->devicePath()));
    QCOMPARE(board->lineSettings().baudRate, 9600);

    openBoardPort();

    QCOMPARE(TestContext.uart.port.openMode(), QIODevice::ReadWrite);
    // What the device itself now holds.
    const LineSettings line = board->lineSettings();
    QCOMPARE(line.baudRate, 115200);
    QCOMPARE(line.stopBits, 1);
    QVERIFY(!line.hardwareFlowControl);
    QVERIFY(!line.softwareFlowControl);
}

void TestUart::sendValue_valuesArriveInOrderWithGoodChecksums()
{
    openBoardPort();
    QSignalSpy received(board, &SimulatedBoard::valueReceived);

    const QList<qint32> values = {1,          1000,
                                  255,        256,
                                  -1,         std::numeric_limits<qint32>::min(),
                                  0x0a0d1113, std::numeric_limits<qint32>::max()};
    for (qint32 value : values)
        uart.SendValue(TestContext.uart, value);

    QTRY_COMPARE(board->goodFrames(), int(values.size()));
    QList<qint32> arrived;
    for (const QList<QVariant> &signal : received)
        arrived.append(signal.at(0).value<qint32>());
    QCOMPARE(arrived, values);
    QCOMPARE(board->badFrames(), 0);
    QCOMPARE(board->lastValue(), std::optional<qint32>(std::numeric_limits<qint32>::max()));
}

// What is still buffered goes out; the chosen device stays for the next run.
void TestUart::close_sendsBufferedBytesAndKeepsTheDevice()
{
    openBoardPort();
    // No event loop runs between the send and the close.
    uart.SendValue(TestContext.uart, 7);
    uart.Close(TestContext.uart);
    QTRY_COMPARE(board->lastValue(), std::optional<qint32>(7));
    QVERIFY(!TestContext.uart.port.isOpen());
    uart.Close(TestContext.uart); // closing twice does no harm

    QCOMPARE(uart.Open(TestContext.uart), 0);
    uart.SendValue(TestContext.uart, 42);
    QTRY_COMPARE(board->lastValue(), std::optional<qint32>(42));
    QCOMPARE(board->goodFrames(), 2);
}

void TestUart::open_failure_data()
{
    QTest::addColumn<QString>("portName");

    QTest::newRow("no port chosen") << QString();
    QTest::newRow("missing device") << QDir::temp().filePath(
        QStringLiteral("no-such-tty-%1").arg(QCoreApplication::applicationPid()));
    QTest::newRow("not a serial device") << kPrivateNullDevice;
}

void TestUart::open_failure()
{
    QFETCH(QString, portName);
    QTemporaryDir nodeFolder;
    QString why;
    if (portName == kPrivateNullDevice &&
        (portName = privateNullDevice(nodeFolder.path(), &why)).isEmpty())
        QSKIP(qPrintable(why));

    TestContext.uart.port.setPortName(portName);
    LogCapture log;
    QCOMPARE(uart.Open(TestContext.uart), 1);
    QCOMPARE(log.count(QStringLiteral("UART: OpenFailed")), 1);
    QVERIFY(!TestContext.uart.port.isOpen());

    // The run goes on: frames to a port that is not open are dropped, not queued.
    uart.SendValue(TestContext.uart, 7);
    QCOMPARE(TestContext.uart.port.bytesToWrite(), 0);
    uart.Close(TestContext.uart);
    QCOMPARE(log.count(QStringLiteral("UART: OpenFailed")), 1);
}

// The product's own reading of its frame (what the board decodes of it is
// sendValue_valuesArriveInOrderWithGoodChecksums): every value back, and a
// checksum off by one, a byte short or a byte over is no frame.
void TestUart::valueFrame()
{
    for (qint32 value : {1000, -1, std::numeric_limits<qint32>::min(), 0x0a0d1113}) {
        const QByteArray frame = ValueFrame::encode(value);
        QVERIFY(ValueFrame::isValid(frame));
        QCOMPARE(ValueFrame::decodeValue(frame), value);
    }
    for (const char *hex : {"000003e8ec", "00000101", "000000010100"})
        QVERIFY(!ValueFrame::isValid(QByteArray::fromHex(hex)));
}

QTEST_GUILESS_MAIN(TestUart)
#include "tst_uart.moc"
