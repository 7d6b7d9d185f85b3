// The power-supply driver: the connect sequence on the wire, the setter
// number format, closing that switches both outputs off. (The product does
// not drive the supply yet; its queries are left untested.)

#include "LogCapture.h"
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
    void setters_sendFormattedLine_data();
    void setters_sendFormattedLine();
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

void Pwr66309dTest::setters_sendFormattedLine_data()
{
    QTest::addColumn<bool>("current");
    QTest::addColumn<int>("output");
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("current 1e-05") << true << 2 << 0.00001 << QByteArray("CURR2 1e-05\n");
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
