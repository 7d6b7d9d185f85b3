// The multimeter driver: every byte on the wire, the replies as returned,
// the log lines, the connection flag and the sessions it holds.

#include "context/TestContext.h"
#include "instruments/DMM_34461A.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/ScriptedPeer.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

const QByteArray identity = "SIM Instruments,34461A,SIM0001,A.01.00\n";
const int connectBytes = 6 + 5; // "*IDN?\n*CLS\n"
const QString timeoutLine = debugQuoted(
    "DMM_34461A: Read Failed [VI_ERROR_TMO: Timeout expired before operation completed.]");

// Starts the peer's script and connects the driver to it.
bool connectTo(ScriptedPeer &peer, DMM_34461A &dmm)
{
    peer.start();
    TestContext.dmm.address = peer.socketResource();
    return dmm.Connect();
}

} // namespace

class Dmm34461aTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void connectAndWrite_bytesAndLogLines();
    void connect_fails_data();
    void connect_fails();
    void read_returnsReplyAsSent_data();
    void read_returnsReplyAsSent();
    void close_closesBothSessionsOnce();
};

void Dmm34461aTest::init()
{
    TestContext.dmm = InstrumentConfig();
}

void Dmm34461aTest::connectAndWrite_bytesAndLogLines()
{
    ScriptedPeer peer;
    peer.awaitBytes(6).send(identity).awaitBytes(connectBytes + 6).send(identity).start();
    TestContext.dmm.address = peer.socketResource();

    LogCapture log;
    DMM_34461A dmm;
    QVERIFY(dmm.Connect());
    QVERIFY(TestContext.dmm.connected);
    QTRY_COMPARE(peer.received(), QByteArray("*IDN?\n*CLS\n"));
    QCOMPARE(log.lines(),
             QStringList({debugQuoted("DMM_34461A: Connect [" + peer.socketResource() + "]"),
                          debugQuoted("DMM_34461A: Connected [" + QString(identity) + "]")}));

    // Already connected: the held session asks again, without opening anew.
    log.clear();
    QVERIFY(dmm.Connect());
    QTRY_COMPARE(peer.received(), QByteArray("*IDN?\n*CLS\n*IDN?\n*CLS\n"));
    QCOMPARE(log.lines(),
             QStringList({debugQuoted("DMM_34461A: Connected [" + QString(identity) + "]")}));

    // A command goes out in Latin-1, '?' for what it lacks, with a newline.
    dmm.Write(QString::fromUtf8("VOLT:DC:RANG 10 µ"));
    dmm.Write(QString::fromUtf8("A€B"));
    QTRY_COMPARE(peer.received(),
                 QByteArray("*IDN?\n*CLS\n*IDN?\n*CLS\nVOLT:DC:RANG 10 \xB5\nA?B\n"));
}

void Dmm34461aTest::connect_fails_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QStringList>("lines"); // after "Connect [address]"
    QTest::addColumn<int>("minimumMs");
    QTest::newRow("refused") << false << QStringList{"DMM_34461A: Connect Failed"} << 0;
    // The driver never sets the timeout: the library's default of 2 s applies.
    QTest::newRow("silent") << true << QStringList{timeoutLine, "DMM_34461A: Comm Failed"} << 2000;
}

void Dmm34461aTest::connect_fails()
{
    QFETCH(bool, listening);
    QFETCH(QStringList, lines);
    QFETCH(int, minimumMs);
    ScriptedPeer peer;
    peer.start();
    const QString address =
        listening ? peer.socketResource()
                  : QString("TCPIP0::127.0.0.1::%1::SOCKET").arg(closedLoopbackPort());
    TestContext.dmm.address = address;

    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    DMM_34461A dmm;
    QCOMPARE(dmm.Connect(), false);
    QVERIFY2(clock.elapsed() >= minimumMs - 5, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!TestContext.dmm.connected);
    QCOMPARE(log.lines(),
             QStringList{debugQuoted("DMM_34461A: Connect [" + address + "]")} + lines);
    QCOMPARE(peer.received(), QByteArray(listening ? "*IDN?\n" : ""));
    // Nothing more is tried.
    QCOMPARE(dmm.Query("Read?"), QString());
    QCOMPARE(log.lines().size(), lines.size() + 1);
}

void Dmm34461aTest::read_returnsReplyAsSent_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: the instrument hangs up
    QTest::addColumn<QString>("returned");
    QTest::newRow("reading with newline") << QByteArray("+2.50010E+00\n") << "+2.50010E+00\n";
    QTest::newRow("cut at NUL") << QByteArray("+1.0\0tail\n", 10) << "+1.0";
    QTest::newRow("NUL first") << QByteArray("\0+1.0\n", 6) << "";
    QTest::newRow("UTF-8 decoded") << QByteArray("10 \xCE\xA9\n") << QString::fromUtf8("10 Ω\n");
    QTest::newRow("connection lost") << QByteArray() << "";
}

void Dmm34461aTest::read_returnsReplyAsSent()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, returned);
    ScriptedPeer peer;
    peer.awaitBytes(6).send(identity).awaitBytes(connectBytes + 6);
    if (reply.isEmpty())
        peer.close();
    else
        peer.send(reply);
    DMM_34461A dmm;
    QVERIFY(connectTo(peer, dmm));

    QCOMPARE(dmm.Query("Read?"), returned);
    QCOMPARE(peer.received(), QByteArray("*IDN?\n*CLS\nRead?\n"));
    QVERIFY(TestContext.dmm.connected); // only Connect and Close change the flag
}

void Dmm34461aTest::close_closesBothSessionsOnce()
{
    const std::size_t before = openHandles();
    ScriptedPeer peer;
    peer.awaitBytes(6).send(identity);
    {
        DMM_34461A dmm;
        QVERIFY(connectTo(peer, dmm));
        QCOMPARE(openHandles(), before + 2);
        // The manager takes the session along; the session's own close after
        // it finds it gone, so Close() reports false.
        dmm.Close();
        QVERIFY(!TestContext.dmm.connected);
        QCOMPARE(openHandles(), before);
        QCOMPARE(dmm.Close(), false);
        TestContext.dmm.connected = true;
    } // the destructor repeats the closes harmlessly and clears the flag
    QVERIFY(!TestContext.dmm.connected);
    QCOMPARE(openHandles(), before);

    // A driver that never connected opens nothing, and closing reports failure.
    TestContext.dmm.address = QString("TCPIP0::127.0.0.1::%1::SOCKET").arg(closedLoopbackPort());
    DMM_34461A unused;
    unused.Write("*RST");
    QCOMPARE(unused.Query("Read?"), QString());
    QCOMPARE(unused.Close(), false);
    QCOMPARE(openHandles(), before);
}

QTEST_GUILESS_MAIN(Dmm34461aTest)
#include "tst_dmm34461a.moc"
