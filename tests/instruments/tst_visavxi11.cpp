// VXI-11 sessions against the simulated instruments: the port mapper and
// "host,port" forms, END and request sizes, the termination character,
// timeouts and lost connections.

#include "BenchSimProcess.h"
#include "OpenSession.h"
#include "ScriptedPeer.h"
#include "visa/LibraryConfig.h"
#include "visa/SessionTable.h"
#include "visa/visa.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

#include <cstring>

namespace {

using Read = QPair<ViStatus, QByteArray>;

// A free loopback port with nothing behind it.
quint16 unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

const QByteArray identity = "BenchSim,34461A,SIM0001,A.02.14\n";

} // namespace

class VisaVxi11Test : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void hostPortForm_queryAnswersWithEnd();
    void portMapper_findsCoreChannel();
    void portMapper_absent_failsFast();
    void unknownDeviceName_notFound();
    void readEndRules_data();
    void readEndRules();
    void writeWithoutNewline_endClosesMessage();
    void longWrite_splitIntoChunksWithEndOnLast();
    void silentInstrument_timesOut();
    void slowInstrument_answersWithinTimeout();
    void disconnect_failsAtOnce();
    void simulatorGone_connectionLost();
    void brokenServer_failsCleanly_data();
    void brokenServer_failsCleanly();
};

void VisaVxi11Test::cleanup()
{
    visa::LibraryConfig::setPortMapperPort(111);
}

void VisaVxi11Test::hostPortForm_queryAnswersWithEnd()
{
    BenchSimProcess sim({"--dmm"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-vxi11"));
    QCOMPARE(session.status, VI_SUCCESS);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, identity));
    QVERIFY(clock.elapsed() < 1000);

    char name[VI_FIND_BUFLEN] = {};
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_TCPIP_DEVICE_NAME, name), VI_SUCCESS);
    QCOMPARE(QByteArray(name), QByteArray("inst0"));
}

void VisaVxi11Test::portMapper_findsCoreChannel()
{
    BenchSimProcess sim({"--portmapper-port", "0", "--portmapper-target", "pwr"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    visa::LibraryConfig::setPortMapperPort(quint16(sim.address("portmapper").toUInt()));

    OpenSession session("TCPIP0::127.0.0.1::INSTR");
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "BenchSim,66309D,SIM0002,A.01.05\n"));
    QCOMPARE(sim.transcript("pwr"), QStringList({"*IDN?\\n"}));
}

void VisaVxi11Test::portMapper_absent_failsFast()
{
    visa::LibraryConfig::setPortMapperPort(unusedPort());
    QElapsedTimer clock;
    clock.start();
    OpenSession session("TCPIP0::127.0.0.1::inst0::INSTR");
    QCOMPARE(session.status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(session.vi, ViSession(VI_NULL));
    QVERIFY(clock.elapsed() < 1000);

    OpenSession direct(QString("TCPIP0::127.0.0.1,%1::inst0::INSTR").arg(unusedPort()));
    QCOMPARE(direct.status, VI_ERROR_RSRC_NFOUND);
}

void VisaVxi11Test::unknownDeviceName_notFound()
{
    BenchSimProcess sim({"--dmm"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    const std::size_t before = visa::SessionTable::instance().openCount();
    QString address = sim.address("dmm-vxi11");
    address.replace("::inst0::", "::gpib0,5::");
    OpenSession session(address);
    QCOMPARE(session.status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(visa::SessionTable::instance().openCount(), before + 1); // the manager only
}

void VisaVxi11Test::readEndRules_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<uint>("count");
    QTest::addColumn<int>("termChar"); // -1: disabled
    QTest::addColumn<QList<Read>>("reads");

    QTest::newRow("END ends the read")
        << QByteArray("*IDN?\n") << 200u << -1 << QList<Read>{{VI_SUCCESS, identity}};
    QTest::newRow("count reached, rest in the next read")
        << QByteArray("*IDN?\n") << 10u << -1
        << QList<Read>{{VI_SUCCESS_MAX_CNT, "BenchSim,3"},
                       {VI_SUCCESS_MAX_CNT, "4461A,SIM0"},
                       {VI_SUCCESS_MAX_CNT, "001,A.02.1"},
                       {VI_SUCCESS, "4\n"}};
    QTest::newRow("termination character on") << QByteArray("*IDN?\n") << 200u << int(',')
                                              << QList<Read>{{VI_SUCCESS_TERM_CHAR, "BenchSim,"},
                                                             {VI_SUCCESS_TERM_CHAR, "34461A,"},
                                                             {VI_SUCCESS_TERM_CHAR, "SIM0001,"},
                                                             {VI_SUCCESS, "A.02.14\n"}};
    QTest::newRow("newline termination character") << QByteArray("*IDN?\n") << 200u << int('\n')
                                                   << QList<Read>{{VI_SUCCESS_TERM_CHAR, identity}};
    QTest::newRow("two replies, two messages")
        << QByteArray("READ?\n*OPC?\n") << 200u << -1
        << QList<Read>{{VI_SUCCESS, "+1.23456789E+00\n"}, {VI_SUCCESS, "1\n"}};
}

void VisaVxi11Test::readEndRules()
{
    QFETCH(QByteArray, query);
    QFETCH(uint, count);
    QFETCH(int, termChar);
    QFETCH(QList<Read>, reads);

    BenchSimProcess sim({"--dmm"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-vxi11"));
    QCOMPARE(session.status, VI_SUCCESS);
    if (termChar >= 0) {
        QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR, ViAttrState(termChar)), VI_SUCCESS);
        QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    }
    QCOMPARE(session.write(query), VI_SUCCESS);
    for (const Read &expected : reads)
        QCOMPARE(session.read(count), expected);
}

void VisaVxi11Test::writeWithoutNewline_endClosesMessage()
{
    BenchSimProcess sim({"--dmm"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-vxi11"));
    QCOMPARE(session.write("*IDN?"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, identity));
    QCOMPARE(sim.transcript("dmm"), QStringList({"*IDN?"}));
}

void VisaVxi11Test::longWrite_splitIntoChunksWithEndOnLast()
{
    BenchSimProcess sim({"--dmm"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-vxi11"));
    // Longer than the simulator's 1024-byte receive size: three device_writes.
    const QByteArray command = "*CLS" + QByteArray(2500, ' ') + "\n";
    QCOMPARE(session.write(command), VI_SUCCESS);
    QCOMPARE(session.write("*OPC?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
    QCOMPARE(sim.transcript("dmm"), QStringList({"*CLS" + QString(2500, ' ') + "\\n", "*OPC?\\n"}));
}

void VisaVxi11Test::silentInstrument_timesOut()
{
    BenchSimProcess sim({"--dmm", "--dmm-fault", "silent"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-vxi11"), 300);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.read(), Read(VI_ERROR_TMO, ""));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 280 && elapsed < 1000, qPrintable(QString::number(elapsed)));
    // The link still works after a timeout.
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
}

void VisaVxi11Test::slowInstrument_answersWithinTimeout()
{
    BenchSimProcess sim({"--dmm", "--dmm-fault", "slow:200"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-vxi11"), 1000);
    QCOMPARE(session.write("READ?\n"), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.read(), Read(VI_SUCCESS, "+1.23456789E+00\n"));
    QVERIFY(clock.elapsed() >= 150);
}

void VisaVxi11Test::disconnect_failsAtOnce()
{
    BenchSimProcess sim({"--dmm", "--dmm-fault", "disconnect:1"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-vxi11"));
    QCOMPARE(session.write("READ?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "+1.23456789E+00\n"));

    QElapsedTimer clock;
    clock.start();
    const ViStatus status = session.write("READ?\n");
    QVERIFY(status == VI_ERROR_CONN_LOST || session.read().first == VI_ERROR_CONN_LOST);
    QCOMPARE(session.read().first, VI_ERROR_CONN_LOST);
    QVERIFY(clock.elapsed() < 1000);
}

void VisaVxi11Test::simulatorGone_connectionLost()
{
    auto *sim = new BenchSimProcess({"--dmm"});
    QVERIFY2(sim->isRunning(), qPrintable(sim->error()));
    OpenSession session(sim->address("dmm-vxi11"));
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(sim->stop(), 0);
    delete sim;

    QElapsedTimer clock;
    clock.start();
    const ViStatus status = session.write("*IDN?\n");
    QVERIFY(status == VI_ERROR_CONN_LOST || session.read().first == VI_ERROR_CONN_LOST);
    QVERIFY(clock.elapsed() < 1000);
}

void VisaVxi11Test::brokenServer_failsCleanly_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("record longer than any reply") << QByteArray("\xFF\xFF\xFF\xFF garbage");
    QTest::newRow("text, then hang up") << QByteArray("HELLO\n");
    QTest::newRow("half a record, then hang up") << QByteArray("\x80\x00\x00\x40\x42\x00");
}

void VisaVxi11Test::brokenServer_failsCleanly()
{
    QFETCH(QByteArray, answer);
    ScriptedPeer peer;
    peer.awaitBytes(4).send(answer).pause(20).close().start();
    const std::size_t before = visa::SessionTable::instance().openCount();
    QElapsedTimer clock;
    clock.start();
    OpenSession session(QString("TCPIP0::127.0.0.1,%1::inst0::INSTR").arg(peer.port()));
    QVERIFY(session.status < VI_SUCCESS);
    QCOMPARE(session.vi, ViSession(VI_NULL));
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(visa::SessionTable::instance().openCount(), before + 1); // the manager only
}

QTEST_GUILESS_MAIN(VisaVxi11Test)
#include "tst_visavxi11.moc"
