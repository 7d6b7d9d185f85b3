// The power-supply driver: what it sends on connecting, the setters' number
// format, and closing, which switches both outputs off and leaves no session
// behind; the session a run drives it through, which touches no output by
// itself and keeps each reply its own query's on a raw socket. (The
// simulated supply takes what it sends: tst_benchsim.)

#include "context/TestContext.h"
#include "instruments/PWR_66309D.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedPeer.h"

#include <QThread>
#include <QtTest>

class Pwr66309dTest : public QObject
{
    Q_OBJECT

private slots:
    void connectSetAndClose();
    void runSession_touchesNoOutputAndKeepsRepliesPaired();
};

void Pwr66309dTest::connectSetAndClose()
{
    TestContext.pwr = InstrumentConfig();
    const std::size_t before = openHandles();
    ScriptedPeer peer;
    const QByteArray identity = "BenchSim,66309D,SIM0002,A.01.05\n";
    peer.awaitBytes(6).send("0\n"); // the self-test passes
    peer.awaitBytes(37 + 6).send(identity).awaitBytes(43 + 13).send("+1.25000E+00\n").start();
    TestContext.pwr.address = peer.socketResource();
    LogCapture log;
    {
        PWR_66309D pwr;
        QVERIFY(pwr.Connect());
        QVERIFY(TestContext.pwr.connected);
        QCOMPARE(log.lines(),
                 QStringList({debugQuoted("PWR_66309D: Connect [" + peer.socketResource() + "]"),
                              "PWR_66309D: Connect Successed"}));
        QCOMPARE(pwr.GetIDN(), QString(identity));
        QCOMPARE(pwr.GetDVMVolt(), QString("+1.25000E+00\n"));
        pwr.SetCurrent(2, 0.00001);
        pwr.SetVoltage(255, 3.14159265);
        // Both sessions close; the session's own close after its manager's
        // finds it gone, so Close() reports false.
        pwr.Close();
        QVERIFY(!TestContext.pwr.connected);
        QCOMPARE(openHandles(), before);
    } // the destructor closes again, harmlessly
    QTRY_COMPARE(peer.received(), QByteArray("*TST?\nDISP:CHAN 2\nVOLT2 2.5\nOUTP2 ON\n"
                                             "*IDN?\nMEAS:DVM:DC?\nCURR2 1e-05\nVOLT255 3.14159\n"
                                             "OUTP1 OFF\nOUTP2 OFF\n"));

    // A driver that never connected: closing reports failure and logs nothing.
    log.clear();
    PWR_66309D unused;
    QCOMPARE(unused.Close(), false);
    QCOMPARE(log.lines(), QStringList());
}

void Pwr66309dTest::runSession_touchesNoOutputAndKeepsRepliesPaired()
{
    const QByteArray identity = "BenchSim,66309D,SIM0002,A.01.05\n";
    ScriptedPeer peer;
    peer.awaitBytes(6).send(identity);
    peer.awaitBytes(37).send("+0,\"No error\"\n").pause(100).send("UNASKED\n"); // a stray
    peer.awaitBytes(49).send("+2.00000E-02\n");
    peer.awaitBytes(61).pause(1400).send("+3.00000E-02\n"); // late, past the timeout
    peer.awaitBytes(67).send(identity);                     // the resynchronisation's
    peer.awaitBytes(79).send("+4.00000E-02\n");
    peer.awaitBytes(89).send("LATE\n");
    peer.start();
    const std::size_t before = openHandles();
    TestContext.pwr = InstrumentConfig();
    {
        PWR_66309D pwr;
        QString error;
        QVERIFY2(pwr.OpenSession(peer.socketResource(), 1000, &error), qPrintable(error));
        QCOMPARE(pwr.Identity(), QString::fromLatin1(identity).trimmed());
        QVERIFY(pwr.SetLevels(1, 3.3, 0.05));
        QCOMPARE(pwr.NextError(), QStringLiteral("+0,\"No error\""));
        QThread::msleep(200);
        QCOMPARE(pwr.MeasureCurrent(1), QStringLiteral("+2.00000E-02")); // the stray dropped
        QCOMPARE(pwr.MeasureCurrent(1), QString());                      // no reply in time
        QCOMPARE(pwr.MeasureCurrent(1), QStringLiteral("+4.00000E-02")); // the late one dropped
        QVERIFY(pwr.LinkQuiet());
        QVERIFY(pwr.SetOutput(1, false));
        bool stray = false; // "LATE" came unasked; a look takes it away
        QTRY_VERIFY(stray = stray || !pwr.LinkQuiet());
        pwr.CloseSession();
        QCOMPARE(openHandles(), before);
        QVERIFY(!TestContext.pwr.connected);
    }
    // No output switched by the session itself, none by the driver's end.
    QCOMPARE(peer.received(), QByteArray("*IDN?\nVOLT1 3.3\nCURR1 0.05\nSYST:ERR?\n"
                                         "MEAS:CURR1?\nMEAS:CURR1?\n*IDN?\nMEAS:CURR1?\n"
                                         "OUTP1 OFF\n"));

    // Nobody there: the reason, and no session left behind.
    PWR_66309D absent;
    QString error;
    QVERIFY(!absent.OpenSession(QStringLiteral("TCPIP0::127.0.0.1::1::SOCKET"), 1000, &error));
    QVERIFY2(error.startsWith("cannot be opened (VI_ERROR_"), qPrintable(error));
    QCOMPARE(openHandles(), before);
}

QTEST_GUILESS_MAIN(Pwr66309dTest)
#include "tst_pwr66309d.moc"
