// Both drivers against the simulated instruments over real loopback
// connections, checked by what the instruments recorded.

#include "BenchSimProcess.h"
#include "DMM_34461A.h"
#include "LogCapture.h"
#include "PWR_66309D.h"
#include "TestContext.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// Asks the simulated instrument directly, on a connection of our own.
QByteArray askDirectly(quint16 port, const QByteArray &query)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return "no connection";
    socket.write(query);
    QByteArray reply;
    while (!reply.endsWith('\n') && socket.waitForReadyRead(2000))
        reply += socket.readAll();
    return reply;
}

} // namespace

class DriversOnSimTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void dmm_dacRun_data();
    void dmm_dacRun();
    void dmm_replyShapes_data();
    void dmm_replyShapes();
    void dmm_disconnectAfterIdentity_readsFailAtOnce();
    void dmm_slowReplyWithinTimeout();
    void dmm_silentOverVxi11_commFailedAfterDefaultTimeout();
    void pwr_connectSetAndClose_data();
    void pwr_connectSetAndClose();

private:
    void addTransports();
};

void DriversOnSimTest::init()
{
    TestContext.dmm = InstrumentConfig();
    TestContext.pwr = InstrumentConfig();
}

void DriversOnSimTest::addTransports()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("socket") << "";
    QTest::newRow("vxi11") << "-vxi11";
}

void DriversOnSimTest::dmm_dacRun_data()
{
    addTransports();
}

// What a DAC run does with the meter: connect, set up, read, close.
void DriversOnSimTest::dmm_dacRun()
{
    QFETCH(QString, suffix);
    BenchSimProcess sim({"--dmm", "--reading", "2.5001"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    TestContext.dmm.address = sim.address("dmm" + suffix);

    LogCapture log;
    auto *dmm = new DMM_34461A;
    QVERIFY(dmm->Connect());
    QCOMPARE(log.lines().value(1),
             QString("\"DMM_34461A: Connected [BenchSim,34461A,SIM0001,A.02.14\\n]\""));
    for (const char *command :
         {"*CLS", "CONF:VOLT:DC", "VOLT:DC:NPLC 10", "VOLT:DC:IMP:AUTO ON", "VOLT:DC:RANG 10"})
        dmm->Write(command);
    QCOMPARE(dmm->Query("Read?"), QString("+2.50010000E+00\n"));
    QCOMPARE(dmm->Query("Read?"), QString("+2.50010000E+00\n"));
    QCOMPARE(dmm->Close(), true);
    delete dmm;

    QTRY_COMPARE_WITH_TIMEOUT(
        sim.transcript("dmm"),
        QStringList({"*IDN?\\n", "*CLS\\n", "*CLS\\n", "CONF:VOLT:DC\\n", "VOLT:DC:NPLC 10\\n",
                     "VOLT:DC:IMP:AUTO ON\\n", "VOLT:DC:RANG 10\\n", "Read?\\n", "Read?\\n"}),
        2000);
}

void DriversOnSimTest::dmm_replyShapes_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("reads");

    const QString reading = "+1.23456789E+00";
    QString longReply = reading;
    while (longReply.size() <= 256)
        longReply += "," + reading;
    QTest::newRow("socket, NUL cuts the reply") << ""
                                                << "nul" << QStringList({"+1.2345"});
    // The rest of a long reply is dropped: the next query gets its own reply.
    QTest::newRow("socket, long reply cut at 200 bytes")
        << ""
        << "long" << QStringList({longReply.left(200), longReply.left(200)});
    QTest::newRow("socket, garbage comes back as decoded")
        << ""
        << "garbage" << QStringList({QString::fromUtf8("\x8F\xFF#!?\x01garbage\xC3\x28\x7F\n")});
}

void DriversOnSimTest::dmm_replyShapes()
{
    QFETCH(QString, suffix);
    QFETCH(QString, fault);
    QFETCH(QStringList, reads);

    // The identity reply is shaped too, but still not empty: Connect succeeds.
    BenchSimProcess sim({"--dmm", "--dmm-fault", fault});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    TestContext.dmm.address = sim.address("dmm" + suffix);
    DMM_34461A dmm;
    QVERIFY(dmm.Connect());

    for (const QString &expected : reads)
        QCOMPARE(dmm.Query("Read?"), expected);
}

void DriversOnSimTest::dmm_disconnectAfterIdentity_readsFailAtOnce()
{
    BenchSimProcess sim({"--dmm", "--dmm-fault", "disconnect:1"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    TestContext.dmm.address = sim.address("dmm");
    DMM_34461A dmm;
    QVERIFY(dmm.Connect());

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(dmm.Query("Read?"), QString());
    QCOMPARE(dmm.Query("Read?"), QString());
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(TestContext.dmm.connected); // only Connect and Close change the flag
}

void DriversOnSimTest::dmm_slowReplyWithinTimeout()
{
    BenchSimProcess sim({"--dmm", "--dmm-fault", "slow:300"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    TestContext.dmm.address = sim.address("dmm");
    DMM_34461A dmm;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(dmm.Connect());
    QCOMPARE(dmm.Query("Read?"), QString("+1.23456789E+00\n"));
    QVERIFY(clock.elapsed() >= 600);
}

void DriversOnSimTest::dmm_silentOverVxi11_commFailedAfterDefaultTimeout()
{
    BenchSimProcess sim({"--dmm", "--dmm-fault", "silent"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    TestContext.dmm.address = sim.address("dmm-vxi11");
    LogCapture log;
    DMM_34461A dmm;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(dmm.Connect(), false);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 1900 && elapsed < 3500, qPrintable(QString::number(elapsed)));
    QCOMPARE(log.lines().value(0), "\"DMM_34461A: Connect [" + sim.address("dmm-vxi11") + "]\"");
    QCOMPARE(log.lines().last(), QString("DMM_34461A: Comm Failed"));
    QVERIFY(!TestContext.dmm.connected);
    QCOMPARE(sim.transcript("dmm"), QStringList({"*IDN?\\n"}));
}

void DriversOnSimTest::pwr_connectSetAndClose_data()
{
    addTransports();
}

void DriversOnSimTest::pwr_connectSetAndClose()
{
    QFETCH(QString, suffix);
    BenchSimProcess sim({"--pwr"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    TestContext.pwr.address = sim.address("pwr" + suffix);

    auto *pwr = new PWR_66309D;
    QVERIFY(pwr->Connect());
    QCOMPARE(askDirectly(sim.rawPort("pwr"), "OUTP2?;VOLT2?;DISP:CHAN?\n"),
             QByteArray("1;+2.50000E+00;2\n"));
    pwr->SetCurrent(1, 0.001);
    pwr->SetCurrent(1, 0.00001);
    pwr->SetVoltage(1, 12);
    QCOMPARE(pwr->GetIDN(), QString("BenchSim,66309D,SIM0002,A.01.05\n"));
    QCOMPARE(pwr->GetDVMVolt(), QString("+0.00000E+00\n"));
    QCOMPARE(askDirectly(sim.rawPort("pwr"), "CURR1?;VOLT1?;OUTP1?\n"),
             QByteArray("+1.00000E-05;+1.20000E+01;0\n"));
    delete pwr; // closing switches both outputs off

    QCOMPARE(askDirectly(sim.rawPort("pwr"), "OUTP1?;OUTP2?\n"), QByteArray("0;0\n"));
    QStringList expected{"*TST?\\n",        "DISP:CHAN 2\\n", "VOLT2 2.5\\n", "OUTP2 ON\\n",
                         "CURR1 0.001\\n",  "CURR1 1e-05\\n", "VOLT1 12\\n",  "*IDN?\\n",
                         "MEAS:DVM:DC?\\n", "OUTP1 OFF\\n",   "OUTP2 OFF\\n"};
    // The direct questions are in the transcript too, between the driver's lines.
    QStringList driverLines = sim.transcript("pwr");
    driverLines.removeIf(
        [](const QString &line) { return line.contains('?') && line.contains(';'); });
    QCOMPARE(driverLines, expected);
}

QTEST_GUILESS_MAIN(DriversOnSimTest)
#include "tst_driversonsim.moc"
