// The simulated board. The benchsim-board program: the application's UART
// reaches it through the device link it prints, it records what it received,
// and it tidies up when stopped. Its frame decoder: values, bad frames and
// resynchronising, however the bytes are split across reads. The expected
// bytes are written out by hand from the frame's layout (four value bytes,
// most significant first, and their sum modulo 256), never produced by the
// product's frame code. And benchsim with --board: the meter's reading
// follows the value the board last received, in the quantity of the meter's
// last CONF command.

#include "context/TestContext.h"
#include "serial/UART.h"
#include "serial/ValueFrame.h"
#include "tests/support/ContextReset.h"
#include "tests/support/FileBytes.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestSeed.h"
#include "tools/boardsim/FrameDecoder.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Renders events as "v:<value>" and "bad:<hex>", blank-separated.
QString describe(const FrameEvent &event)
{
    if (event.kind == FrameEvent::Value)
        return QStringLiteral("v:%1").arg(event.value);
    return QStringLiteral("bad:") + QString::fromLatin1(event.bytes.toHex());
}

// One benchsim process with the board, and the two links a test talks over.
class CoupledBench
{
public:
    explicit CoupledBench(const QStringList &options)
    {
        if (!sim.start(QStringList{"--board", "--dmm"} + options))
            return;
        board.setPortName(sim.address("board"));
        board.open(QIODevice::ReadWrite);
        meter.connectToHost(QStringLiteral("127.0.0.1"), sim.rawPort("dmm"));
        meter.waitForConnected(5000);
    }

    bool ready() const { return board.isOpen() && meter.state() == QTcpSocket::ConnectedState; }
    QString error() const { return sim.error() + board.errorString(); }

    // Returns once the board has taken the value.
    bool sendValue(qint32 value)
    {
        const qsizetype before = sim.transcript("board").size();
        board.write(ValueFrame::encode(value));
        return QTest::qWaitFor([&] { return sim.transcript("board").size() > before; }, 20000);
    }

    void command(const QByteArray &line) { meter.write(line + '\n'); }

    QByteArray query(const QByteArray &line)
    {
        command(line);
        while (!meter.canReadLine() && meter.waitForReadyRead(20000)) {
        }
        return meter.readLine().trimmed();
    }

    SimulatorProcess sim;

private:
    QSerialPort board;
    QTcpSocket meter;
};

} // namespace

class TestBenchsimBoard : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetTestContext(); }
    void cleanup() { resetTestContext(); }
    void run_recordsFramesAndTidiesUp();
    void start_refusesToReplaceAFile();
    void feed_data();
    void feed();
    void framesSplitAnywhere_decodeInOrder();
    void meterReadingFollowsTheBoard();
    void seededNoiseIsReproducible();

private:
    QTemporaryDir dir;
};

void TestBenchsimBoard::run_recordsFramesAndTidiesUp()
{
    const QString link = dir.filePath(QStringLiteral("board"));
    const QString pathFile = dir.filePath(QStringLiteral("board.path"));
    // The stale link of a crashed run is replaced.
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/no-such-device"), link));

    SimulatorProcess board(SimulatorProcess::Program::Board);
    QVERIFY2(board.start({"--link", link, "--path-file", pathFile}), qPrintable(board.error()));
    QCOMPARE(board.firstLine(), link);
    QCOMPARE(fileBytes(pathFile), QFile::encodeName(link) + '\n');
    QVERIFY(QFileInfo(link).isSymLink());

    UART uart;
    TestContext.uart.port.setPortName(link);
    QCOMPARE(uart.Open(TestContext.uart), 0);
    uart.SendValue(TestContext.uart, 1);
    uart.SendValue(TestContext.uart, -1);
    uart.SendString(TestContext.uart, QStringLiteral("AT\r\n"));
    uart.SendValue(TestContext.uart, 255);
    const QStringList expected{"value 1", "value -1", "bad 41 54 0d 0a", "value 255"};
    QTRY_COMPARE(board.transcript(), expected);
    uart.Close(TestContext.uart);

    QCOMPARE(board.stop(SIGTERM), 0);
    QVERIFY(!QFileInfo(link).exists());
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(pathFile));
    QCOMPARE(board.transcript(), expected);
}

void TestBenchsimBoard::start_refusesToReplaceAFile()
{
    const QString notALink = dir.filePath(QStringLiteral("notes.txt"));
    QVERIFY(writeFileBytes(notALink, "keep me\n"));

    SimulatorProcess board(SimulatorProcess::Program::Board);
    QVERIFY(!board.start({"--link", notALink}));
    QCOMPARE(board.process().exitCode(), 1);
    QVERIFY2(board.error().contains("not a symbolic link"), qPrintable(board.error()));
    QCOMPARE(fileBytes(notALink), QByteArray("keep me\n"));
}

void TestBenchsimBoard::feed_data()
{
    // Each step is a chunk of bytes as one read delivers it (hex), or "|" for
    // the line going quiet (flush).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("events");

    // Good frames however split: framesSplitAnywhere_decodeInOrder.
    QTest::newRow("garbage before a frame") << QStringList{"aabb0000000101"} << "bad:aabb v:1";
    QTest::newRow("garbage between frames")
        << QStringList{"0000000101", "ff", "000003e8eb"} << "v:1 bad:ff v:1000";
    QTest::newRow("bad checksum, then a good frame")
        << QStringList{"000003e8ec000000ffff"} << "bad:000003e8ec v:255";
    QTest::newRow("partial frame given up when quiet")
        << QStringList{"0000000101", "0000", "|"} << "v:1 bad:0000";
    QTest::newRow("fresh start after quiet")
        << QStringList{"0000", "|", "000000ffff"} << "bad:0000 v:255";
    QTest::newRow("bad frame alone, then quiet")
        << QStringList{"000003e8ec", "|"} << "bad:000003e8ec";
    QTest::newRow("an inverted checksum is bad")
        << QStringList{"00000001fe", "|"} << "bad:00000001fe";
}

void TestBenchsimBoard::feed()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, events);

    FrameDecoder decoder;
    QStringList seen;
    for (const QString &step : steps) {
        if (step == QLatin1String("|")) {
            if (const auto event = decoder.flush())
                seen.append(describe(*event));
            continue;
        }
        for (const FrameEvent &event : decoder.feed(QByteArray::fromHex(step.toLatin1())))
            seen.append(describe(event));
    }
    QCOMPARE(seen.join(QLatin1Char(' ')), events);
}

// Any sequence of good frames, cut into reads at random places, decodes to
// exactly its values in order, with no bad frame.
void TestBenchsimBoard::framesSplitAnywhere_decodeInOrder()
{
    QRandomGenerator random(testSeed(QTest::currentTestFunction()));

    for (int round = 0; round < 200; ++round) {
        QList<qint32> sent;
        QByteArray wire;
        const int frames = random.bounded(1, 20);
        for (int i = 0; i < frames; ++i) {
            const qint32 value = qint32(random.generate());
            const quint32 bits = quint32(value);
            const quint8 b[4] = {quint8(bits >> 24), quint8(bits >> 16), quint8(bits >> 8),
                                 quint8(bits)};
            wire.append(char(b[0])).append(char(b[1])).append(char(b[2])).append(char(b[3]));
            wire.append(char(quint8(b[0] + b[1] + b[2] + b[3])));
            sent << value;
        }

        FrameDecoder decoder;
        QList<qint32> received;
        for (qsizetype at = 0; at < wire.size();) {
            const qsizetype chunk = random.bounded(1, 12);
            for (const FrameEvent &event : decoder.feed(wire.mid(at, chunk))) {
                QVERIFY2(event.kind == FrameEvent::Value, qPrintable(describe(event)));
                received << event.value;
            }
            at += chunk;
        }
        QVERIFY(!decoder.flush());
        QCOMPARE(received, sent);
    }
}

void TestBenchsimBoard::meterReadingFollowsTheBoard()
{
    CoupledBench bench({"--gain", "0.5", "--offset", "0.25", "--sink-gain", "1e-6"});
    QVERIFY2(bench.ready(), qPrintable(bench.error()));

    bench.command("CONF:VOLT:DC");
    QCOMPARE(bench.query("READ?"), QByteArray("+2.50000000E-01")); // code 0 before any frame
    QVERIFY(bench.sendValue(4));
    QCOMPARE(bench.query("READ?"), QByteArray("+2.25000000E+00"));
    QVERIFY(bench.sendValue(-2));
    QCOMPARE(bench.query("READ?"), QByteArray("-7.50000000E-01"));
    QVERIFY(bench.sendValue(500));
    bench.command("CONF:CURR:DC");
    bench.command("CURR:DC:RANG 0.001");
    QCOMPARE(bench.query("READ?"), QByteArray("+5.00000000E-04"));
    bench.command("CONF:VOLT:DC");
    QCOMPARE(bench.query("READ?"), QByteArray("+2.50250000E+02"));
    QCOMPARE(bench.sim.transcript("board"), QStringList({"value 4", "value -2", "value 500"}));
}

void TestBenchsimBoard::seededNoiseIsReproducible()
{
    auto readings = [](const QString &seed) {
        CoupledBench bench({"--noise", "0.001", "--seed", seed});
        QList<double> values;
        if (!bench.ready() || !bench.sendValue(100))
            return values;
        bench.command("CONF:VOLT:DC");
        for (int i = 0; i < 5; ++i)
            values << bench.query("READ?").toDouble();
        return values;
    };
    const QList<double> first = readings("7");
    QCOMPARE(first.size(), 5);
    QCOMPARE(readings("7"), first);
    QVERIFY(readings("8") != first);
    for (double value : first)
        QVERIFY(qAbs(value - 0.1) < 0.01); // within 10 sigma of the output
    QVERIFY(first[0] != first[1]);
}

QTEST_GUILESS_MAIN(TestBenchsimBoard)
#include "tst_benchsimboard.moc"
