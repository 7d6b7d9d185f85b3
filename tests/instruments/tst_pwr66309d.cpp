// The power-supply driver, which the product does not drive yet: what it
// sends on connecting, the setters' number format, and closing, which
// switches both outputs off and leaves no session behind.

#include "context/TestContext.h"
#include "instruments/PWR_66309D.h"
#include "instruments/visa/SessionTable.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <QtTest>

class Pwr66309dTest : public QObject
{
    Q_OBJECT

private slots:
    void connectSetAndClose();
};

void Pwr66309dTest::connectSetAndClose()
{
    TestContext.pwr = InstrumentConfig();
    const std::size_t before = visa::SessionTable::instance().openCount();
    ScriptedPeer peer;
    peer.awaitBytes(6).send("0\n").start(); // the self-test passes
    TestContext.pwr.address = peer.socketResource();
    LogCapture log;
    {
        PWR_66309D pwr;
        QVERIFY(pwr.Connect());
        QVERIFY(TestContext.pwr.connected);
        QCOMPARE(log.lines(),
                 QStringList({debugQuoted("PWR_66309D: Connect [" + peer.socketResource() + "]"),
                              "PWR_66309D: Connect Successed"}));
        pwr.SetCurrent(2, 0.00001);
        pwr.SetVoltage(255, 3.14159265);
        // Both sessions close; the session's own close after its manager's
        // finds it gone, so Close() reports false.
        pwr.Close();
        QVERIFY(!TestContext.pwr.connected);
        QCOMPARE(visa::SessionTable::instance().openCount(), before);
    } // the destructor closes again, harmlessly
    QTRY_COMPARE(peer.received(), QByteArray("*TST?\nDISP:CHAN 2\nVOLT2 2.5\nOUTP2 ON\n"
                                             "CURR2 1e-05\nVOLT255 3.14159\n"
                                             "OUTP1 OFF\nOUTP2 OFF\n"));

    // A driver that never connected: closing reports failure and logs nothing.
    log.clear();
    PWR_66309D unused;
    QCOMPARE(unused.Close(), false);
    QCOMPARE(log.lines(), QStringList());
}

QTEST_GUILESS_MAIN(Pwr66309dTest)
#include "tst_pwr66309d.moc"
