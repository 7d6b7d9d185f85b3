// The power-supply driver: the connect sequence on the wire, the setter
// number format, closing that switches both outputs off.

#include "LogCapture.h"
#include "PWR_66309D.h"
#include "ScriptedPeer.h"
#include "TestContext.h"
#include "visa/SessionTable.h"

#include "LogCapture.h"
#include "LoopbackPort.h"

#include <QElapsedTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray connectLines = "*TST?\nDISP:CHAN 2\nVOLT2 2.5\nOUTP2 ON\n";

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
    void setters_sendNothingWhenNotConnected();
    void queries_sendExactBytes();
    void close_switchesOutputsOffAndClosesOnce();
    void close_neverConnected_reportsFailure();
};

void Pwr66309dTest::init()
{
    TestContext.pwr = InstrumentConfig();
}

void Pwr66309dTest::connect_runsSelfTestAndPowersOutput2()
{
    ScriptedPeer peer;
    peer.awaitBytes(6).send("0\n").start();
    TestContext.pwr.address = peer.socketResource();

    LogCapture log;
    PWR_66309D pwr;
    QVERIFY(pwr.Connect());
    QVERIFY(TestContext.pwr.connected);
    QTRY_COMPARE_WITH_TIMEOUT(peer.received(), connectLines, 2000);
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

    QTest::newRow("current 0.5") << true << 1 << 0.5 << QByteArray("CURR1 0.5\n");
    QTest::newRow("current 0.001") << true << 1 << 0.001 << QByteArray("CURR1 0.001\n");
    QTest::newRow("current 1e-05") << true << 1 << 0.00001 << QByteArray("CURR1 1e-05\n");
    QTest::newRow("voltage 2.5") << false << 2 << 2.5 << QByteArray("VOLT2 2.5\n");
    QTest::newRow("voltage 12") << false << 1 << 12.0 << QByteArray("VOLT1 12\n");
    QTest::newRow("six digits") << false << 1 << 3.14159265 << QByteArray("VOLT1 3.14159\n");
    QTest::newRow("large value") << false << 2 << 1234567.0 << QByteArray("VOLT2 1.23457e+06\n");
    QTest::newRow("negative") << false << 1 << -1.5 << QByteArray("VOLT1 -1.5\n");
    QTest::newRow("zero") << true << 2 << 0.0 << QByteArray("CURR2 0\n");
    QTest::newRow("output 255 in decimal") << true << 255 << 1.0 << QByteArray("CURR255 1\n");
}

void Pwr66309dTest::setters_sendFormattedLine()
{
    QFETCH(bool, current);
    QFETCH(int, output);
    QFETCH(double, value);
    QFETCH(QByteArray, line);

    ScriptedPeer peer;
    peer.awaitBytes(6).send("0\n").start();
    TestContext.pwr.address = peer.socketResource();
    PWR_66309D pwr;
    QVERIFY(pwr.Connect());

    if (current)
        pwr.SetCurrent(quint8(output), value);
    else
        pwr.SetVoltage(quint8(output), value);
    QTRY_COMPARE_WITH_TIMEOUT(peer.received(), connectLines + line, 2000);
}

void Pwr66309dTest::setters_sendNothingWhenNotConnected()
{
    PWR_66309D pwr;
    pwr.SetVoltage(2, 2.5);
    pwr.SetCurrent(1, 0.001);
    QCOMPARE(pwr.GetIDN(), QString());
    QCOMPARE(pwr.GetDVMVolt(), QString());
    QVERIFY(!TestContext.pwr.connected);
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
        .send(QByteArray("+2.50000E+00\0junk\n", 18))
        .start();
    TestContext.pwr.address = peer.socketResource();
    PWR_66309D pwr;
    QVERIFY(pwr.Connect());

    QCOMPARE(pwr.GetIDN(), QString(identity));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(pwr.GetDVMVolt(), QString("+2.50000E+00"));
    QVERIFY(clock.elapsed() >= 100);
    QCOMPARE(peer.received(), connectLines + "*IDN?\nMEAS:DVM:DC?\n");
}

void Pwr66309dTest::close_switchesOutputsOffAndClosesOnce()
{
    const std::size_t before = visa::SessionTable::instance().openCount();
    ScriptedPeer peer;
    peer.awaitBytes(6).send("0\n").start();
    TestContext.pwr.address = peer.socketResource();
    {
        PWR_66309D pwr;
        QVERIFY(pwr.Connect());
        QCOMPARE(pwr.Close(), true);
        QVERIFY(!TestContext.pwr.connected);
        QTRY_COMPARE_WITH_TIMEOUT(peer.received(), connectLines + "OUTP1 OFF\nOUTP2 OFF\n", 2000);
        QCOMPARE(visa::SessionTable::instance().openCount(), before);
    } // the destructor closes again: nothing more reaches the supply
    QTest::qWait(50);
    QCOMPARE(peer.received(), connectLines + "OUTP1 OFF\nOUTP2 OFF\n");
    QCOMPARE(visa::SessionTable::instance().openCount(), before);
}

void Pwr66309dTest::close_neverConnected_reportsFailure()
{
    LogCapture log;
    PWR_66309D pwr;
    QCOMPARE(pwr.Close(), false);
    QVERIFY(!TestContext.pwr.connected);
    QCOMPARE(log.lines(), QStringList());
}

QTEST_GUILESS_MAIN(Pwr66309dTest)
#include "tst_pwr66309d.moc"
