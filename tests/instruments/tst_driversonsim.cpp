// The multimeter and power supply drivers against the simulated instruments
// over real loopback connections, raw socket, VXI-11 and HiSLIP, checked by
// what the instruments recorded and the state they are left in.

#include "context/TestContext.h"
#include "instruments/DMM_34461A.h"
#include "instruments/PWR_66309D.h"
#include "instruments/visa/SessionTable.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimulatorProcess.h"

#include <QTcpSocket>
#include <QtTest>

class DriversOnSimTest : public QObject
{
    Q_OBJECT

private slots:
    void dmm_dacRun_data();
    void dmm_dacRun();
    void pwr_connectSetAndClose_data();
    void pwr_connectSetAndClose();
};

void DriversOnSimTest::dmm_dacRun_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("socket") << "dmm";
    QTest::newRow("vxi11") << "dmm-vxi11";
    QTest::newRow("hislip") << "dmm-hislip";
}

// What a DAC run does with the meter: connect, set up, read, close.
void DriversOnSimTest::dmm_dacRun()
{
    QFETCH(QString, key);
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--reading", "2.5001"}), qPrintable(sim.error()));
    TestContext.dmm = InstrumentConfig();
    TestContext.dmm.address = sim.address(key);

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
    const std::size_t open = visa::SessionTable::instance().openCount();
    dmm->Close(); // the manager takes the session along
    QCOMPARE(visa::SessionTable::instance().openCount(), open - 2);
    delete dmm;

    QTRY_COMPARE(
        sim.transcript("dmm"),
        QStringList({"*IDN?\\n", "*CLS\\n", "*CLS\\n", "CONF:VOLT:DC\\n", "VOLT:DC:NPLC 10\\n",
                     "VOLT:DC:IMP:AUTO ON\\n", "VOLT:DC:RANG 10\\n", "Read?\\n", "Read?\\n"}));
}

void DriversOnSimTest::pwr_connectSetAndClose_data()
{
    dmm_dacRun_data();
}

// Every command the supply driver sends is one the supply takes: it is
// recorded, leaves no error behind, and Close leaves both outputs off.
void DriversOnSimTest::pwr_connectSetAndClose()
{
    QFETCH(QString, key);
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--pwr", "--dvm-reading", "1.25"}), qPrintable(sim.error()));
    TestContext.pwr = InstrumentConfig();
    TestContext.pwr.address = sim.address(key.replace("dmm", "pwr"));

    auto *pwr = new PWR_66309D;
    QVERIFY(pwr->Connect());
    QCOMPARE(pwr->GetIDN(), QString("BenchSim,66309D,SIM0002,A.01.05\n"));
    pwr->SetVoltage(1, 3.3);
    pwr->SetCurrent(1, 0.5);
    QCOMPARE(pwr->GetDVMVolt(), QString("+1.25000E+00\n"));
    // Closing the manager closes the session with it: the driver's own second
    // close then finds nothing to close.
    pwr->Close();
    QVERIFY(!TestContext.pwr.connected);
    delete pwr;

    QTRY_COMPARE(sim.transcript("pwr"),
                 QStringList({"*TST?\\n", "DISP:CHAN 2\\n", "VOLT2 2.5\\n", "OUTP2 ON\\n",
                              "*IDN?\\n", "VOLT1 3.3\\n", "CURR1 0.5\\n", "MEAS:DVM:DC?\\n",
                              "OUTP1 OFF\\n", "OUTP2 OFF\\n"}));
    QTcpSocket check;
    check.connectToHost(QHostAddress::LocalHost, sim.rawPort("pwr"));
    QVERIFY(check.waitForConnected(5000));
    check.write("OUTP1?;OUTP2?;VOLT1?;CURR1?;VOLT2?;DISP:CHAN?;SYST:ERR?\n");
    while (!check.canReadLine() && check.waitForReadyRead(20000)) {
    }
    QCOMPARE(check.readLine(),
             QByteArray("0;0;+3.30000E+00;+5.00000E-01;+2.50000E+00;2;+0,\"No error\"\n"));
}

QTEST_GUILESS_MAIN(DriversOnSimTest)
#include "tst_driversonsim.moc"
