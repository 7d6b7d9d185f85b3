// The power-supply driver: the connect sequence on the wire, the setter
// number format, closing that switches both outputs off.

#include "LogCapture.h"
#include "LoopbackPort.h"
#include "PWR_66309D.h"
#include "ScriptedPeer.h"
#include "TestContext.h"
#include "visa/SessionTable.h"

#include <QtTest>

namespace {

const QByteArray connectLines = "*TST?\nDISP:CHAN 2\nVOLT2 2.5\nOUTP2 ON\n";

std::size_t openCount()
{
    return visa::SessionTable::instance().openCount();
}

// Starts the peer's script, which answers the self-test first, and connects
// the driver to it.
bool connectTo(ScriptedPeer &peer, PWR_66309D &pwr)
{
    peer.start();
    TestContext.pwr.address = peer.socketResource();
    return pwr.Connect();
}

} // namespace

class Pwr66309dTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void connect_runsSelfTestAndPowersOutput2();
    void connect_refusedPort_logsConnectFailed();
    void connect_selfTestNotSent_logsSendFailed();
    void setters_sendFormattedLine_data();
    void setters_sendFormattedLine();
    void notConnected_opensNothing();
    void queries_sendExactBytes();
    void close_switchesOutputsOffAndClosesOnce();
};

void Pwr66309dTest::init()
{
    TestContext.pwr = InstrumentConfig();
}

void Pwr66309dTest::connect_runsSelfTestAndPowersOutput2()
{
    ScriptedPeer peer;
    peer.awaitBytes(6).send("0\n");
    LogCapture log;
    PWR_66309D pwr;
    QVERIFY(connectTo(peer, pwr));
    QVERIFY(TestContext.pwr.connected);
    QTRY_COMPARE(peer.received(), connectLines);
    QCOMPARE(log.lines(),
             QStringList({debugQuoted("PWR_66309D: Connect [" + peer.socketResource() + "]"),
                          "PWR_66309D: Connect Successed"}));
}

void Pwr66309dTest::connect_refusedPort_logsConnectFailed()
{
    const QString address = QString("TCPIP0::127.0.0.1::%1::SOCKET").arg(closedLoopbackPort());
    TestContext.pwr.address = address;
    LogCapture log;
    PWR_66309D pwr;
    QCOMPARE(pwr.Connect(), false);
    QVERIFY(!TestContext.pwr.connected);
    QCOMPARE(log.lines(), QStringList({debugQuoted("PWR_66309D: Connect [" + address + "]"),
                                       "PWR_66309D: ERROR Connect Failed"}));
}

void Pwr66309dTest::connect_selfTestNotSent_logsSendFailed()
{
    // The flag says connected, but this driver holds no session: the
    // self-test query cannot be sent and nothing else is attempted.
    TestContext.pwr.connected = true;
    LogCapture log;
    PWR_66309D pwr;
    QCOMPARE(pwr.Connect(), false);
    QCOMPARE(log.lines(), QStringList({"PWR_66309D: ERROR Send Failed"}));
    QVERIFY(TestContext.pwr.connected); // left as it was
}

void Pwr66309dTest::setters_sendFormattedLine_data()
{
    QTest::addColumn<bool>("current");
    QTest::addColumn<int>("output");
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("current 0.001") << true << 1 << 0.001 << QByteArray("CURR1 0.001\n");
    QTest::newRow("current 1e-05") << true << 2 << 0.00001 << QByteArray("CURR2 1e-05\n");
    QTest::newRow("voltage 12") << false << 1 << 12.0 << QByteArray("VOLT1 12\n");
    QTest::newRow("six digits") << false << 2 << 3.14159265 << QByteArray("VOLT2 3.14159\n");
    QTest::newRow("output 255 in decimal") << true << 255 << 1.0 << QByteArray("CURR255 1\n");
}

void Pwr66309dTest::setters_sendFormattedLine()
{
    QFETCH(bool, current);
    QFETCH(int, output);
    QFETCH(double, value);
    QFETCH(QByteArray, line);
    ScriptedPeer peer;
    peer.awaitBytes(6).send("0\n");
    PWR_66309D pwr;
    QVERIFY(connectTo(peer, pwr));

    if (current)
        pwr.SetCurrent(quint8(output), value);
    else
        pwr.SetVoltage(quint8(output), value);
    QTRY_COMPARE(peer.received(), connectLines + line);
}

void Pwr66309dTest::notConnected_opensNothing()
{
    TestContext.pwr.address = QString("TCPIP0::127.0.0.1::%1::SOCKET").arg(closedLoopbackPort());
    const std::size_t before = openCount();
    PWR_66309D pwr;
    pwr.SetVoltage(2, 2.5);
    pwr.SetCurrent(1, 0.001);
    QCOMPARE(pwr.GetIDN(), QString());
    QCOMPARE(pwr.GetDVMVolt(), QString());
    QVERIFY(!TestContext.pwr.connected);
    QCOMPARE(openCount(), before);
}

void Pwr66309dTest::queries_sendExactBytes()
{
    const QByteArray identity = "SIM Instruments,66309D,SIM0002,A.01.00\n";
    ScriptedPeer peer;
    peer.awaitBytes(6)
        .send("0\n")
        .awaitBytes(connectLines.size() + 6)
        .send(identity)
        .awaitBytes(connectLines.size() + 6 + 13)
        .send(QByteArray("+2.50000E+00\0junk\n", 18));
    PWR_66309D pwr;
    QVERIFY(connectTo(peer, pwr));

    QCOMPARE(pwr.GetIDN(), QString(identity));
    QCOMPARE(pwr.GetDVMVolt(), QString("+2.50000E+00"));
    QCOMPARE(peer.received(), connectLines + "*IDN?\nMEAS:DVM:DC?\n");
}

void Pwr66309dTest::close_switchesOutputsOffAndClosesOnce()
{
    const std::size_t before = openCount();
    ScriptedPeer peer;
    peer.awaitBytes(6).send("0\n");
    {
        PWR_66309D pwr;
        QVERIFY(connectTo(peer, pwr));
        QCOMPARE(pwr.Close(), true);
        QVERIFY(!TestContext.pwr.connected);
        QTRY_COMPARE(peer.received(), connectLines + "OUTP1 OFF\nOUTP2 OFF\n");
        // No session is left for the destructor's close to write to.
        QCOMPARE(openCount(), before);
    }
    QCOMPARE(openCount(), before);

    // A driver that never connected: closing reports failure and logs nothing.
    LogCapture log;
    PWR_66309D unused;
    QCOMPARE(unused.Close(), false);
    QCOMPARE(log.lines(), QStringList());
}

QTEST_GUILESS_MAIN(Pwr66309dTest)
#include "tst_pwr66309d.moc"
