// Both drivers against the simulated instruments over real loopback
// connections, raw socket and VXI-11, checked by what the instruments
// recorded and by the supply's state.

#include "DMM_34461A.h"
#include "LogCapture.h"
#include "PWR_66309D.h"
#include "SimulatorProcess.h"
#include "TestContext.h"

#include <QTcpSocket>
#include <QtTest>

namespace {

// Asks the simulated instrument directly, on a connection of our own.
QByteArray askDirectly(quint16 port, const QByteArray &query)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return "no connection";
    socket.write(query);
    QByteArray reply;
    while (!reply.endsWith('\n') && socket.waitForReadyRead(20000))
        reply += socket.readAll();
    return reply;
}

} // namespace

class DriversOnSimTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void dmm_dacRun_data() { addTransports(); }
    void dmm_dacRun();
    void pwr_connectSetAndClose_data() { addTransports(); }
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

// What a DAC run does with the meter: connect, set up, read, close.
void DriversOnSimTest::dmm_dacRun()
{
    QFETCH(QString, suffix);
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--reading", "2.5001"}), qPrintable(sim.error()));
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

    QTRY_COMPARE(
        sim.transcript("dmm"),
        QStringList({"*IDN?\\n", "*CLS\\n", "*CLS\\n", "CONF:VOLT:DC\\n", "VOLT:DC:NPLC 10\\n",
                     "VOLT:DC:IMP:AUTO ON\\n", "VOLT:DC:RANG 10\\n", "Read?\\n", "Read?\\n"}));
}

void DriversOnSimTest::pwr_connectSetAndClose()
{
    QFETCH(QString, suffix);
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--pwr"}), qPrintable(sim.error()));
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
    // The direct questions are in the transcript too, between the driver's lines.
    QStringList driverLines = sim.transcript("pwr");
    driverLines.removeIf(
        [](const QString &line) { return line.contains('?') && line.contains(';'); });
    QCOMPARE(driverLines,
             QStringList({"*TST?\\n", "DISP:CHAN 2\\n", "VOLT2 2.5\\n", "OUTP2 ON\\n",
                          "CURR1 0.001\\n", "CURR1 1e-05\\n", "VOLT1 12\\n", "*IDN?\\n",
                          "MEAS:DVM:DC?\\n", "OUTP1 OFF\\n", "OUTP2 OFF\\n"}));
}

QTEST_GUILESS_MAIN(DriversOnSimTest)
#include "tst_driversonsim.moc"
