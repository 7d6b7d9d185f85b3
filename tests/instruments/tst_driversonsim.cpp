// The multimeter driver against the simulated meter over real loopback
// connections, raw socket and VXI-11, checked by what the meter recorded.

#include "context/TestContext.h"
#include "instruments/DMM_34461A.h"
#include "instruments/visa/SessionTable.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimulatorProcess.h"

#include <QtTest>

class DriversOnSimTest : public QObject
{
    Q_OBJECT

private slots:
    void dmm_dacRun_data();
    void dmm_dacRun();
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

QTEST_GUILESS_MAIN(DriversOnSimTest)
#include "tst_driversonsim.moc"
