// VXI-11 sessions against the simulated instruments and broken servers: the
// port mapper, device names, END and request sizes, the termination
// character, timeouts and lost connections; device clear, the status byte
// and the instrument's lock on the link itself.

#include "instruments/visa/LibraryConfig.h"
#include "instruments/visa/SessionTable.h"
#include "instruments/visa/Vxi11Transport.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SimulatorProcess.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

const QByteArray identity = "BenchSim,34461A,SIM0001,A.02.14\n";

std::size_t openCount()
{
    return visa::SessionTable::instance().openCount();
}

// A VXI-11 link used directly, for the calls beside reads and writes.
struct Link
{
    explicit Link(const QString &resource)
    {
        visa::ResourceName name;
        visa::ResourceName::parse(resource.toUtf8().constData(), name);
        status = transport.open(name, visa::Deadline(5000));
    }
    ViStatus write(const QByteArray &bytes)
    {
        std::size_t written = 0;
        return transport.write(reinterpret_cast<const ViByte *>(bytes.constData()),
                               std::size_t(bytes.size()), {}, visa::Deadline(5000), written);
    }
    // One reply up to END, or the status that ended the wait for it.
    Read read(ViUInt32 timeoutMs)
    {
        visa::InputBuffer in;
        ViStatus result = VI_SUCCESS;
        visa::Deadline deadline(timeoutMs);
        while (result == VI_SUCCESS && (in.size() == 0 || !in.endAfter(in.size() - 1)))
            result = transport.receive(in, 200, {}, deadline);
        QByteArray bytes(int(in.size()), '\0');
        in.take(in.size(), reinterpret_cast<ViByte *>(bytes.data()));
        return {result, bytes};
    }
    ViUInt16 statusByte()
    {
        ViUInt16 stb = 0xFFFF;
        return transport.readStatusByte(stb, visa::Deadline(5000)) == VI_SUCCESS ? stb : 0xFFFF;
    }
    visa::Vxi11Transport transport;
    ViStatus status = VI_SUCCESS;
};

constexpr ViUInt16 MessageAvailable = 0x10;

} // namespace

class VisaVxi11Test : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void readEndRules_data();
    void readEndRules();
    void writeEndsTheMessage();
    void portMapperAndDeviceNames();
    void openFails_data();
    void openFails();
    void slowAndSilentInstruments_data();
    void slowAndSilentInstruments();
    void connectionLost_data();
    void connectionLost();
    void clearDropsDelayedReply();
    void lockHeldByAnotherLink();
};

void VisaVxi11Test::cleanup()
{
    visa::LibraryConfig::setPortMapperPort(111);
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
    QTest::newRow("termination character") << QByteArray("*IDN?\n") << 200u << int(',')
                                           << QList<Read>{{VI_SUCCESS_TERM_CHAR, "BenchSim,"},
                                                          {VI_SUCCESS_TERM_CHAR, "34461A,"},
                                                          {VI_SUCCESS_TERM_CHAR, "SIM0001,"},
                                                          {VI_SUCCESS, "A.02.14\n"}};
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

    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm"}), qPrintable(sim.error()));
    // Long: a read that waited for the timeout instead of END would show as VI_ERROR_TMO.
    OpenSession session(sim.address("dmm-vxi11"), 20000);
    QCOMPARE(session.status, VI_SUCCESS);
    if (termChar >= 0) {
        QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR, ViAttrState(termChar)), VI_SUCCESS);
        QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    }
    QCOMPARE(session.write(query), VI_SUCCESS);
    for (const Read &expected : reads)
        QCOMPARE(session.read(count), expected);
}

// A write without a newline is a message of its own (END); one longer than
// the simulator's 1024-byte receive size goes in several device_writes.
void VisaVxi11Test::writeEndsTheMessage()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm"}), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-vxi11"));
    QCOMPARE(session.write("*IDN?"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, identity));
    const QByteArray command = "*CLS" + QByteArray(2500, ' ') + "\n";
    QCOMPARE(session.write(command), VI_SUCCESS);
    QCOMPARE(session.write("*OPC?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
    QCOMPARE(sim.transcript("dmm"),
             QStringList({"*IDN?", "*CLS" + QString(2500, ' ') + "\\n", "*OPC?\\n"}));
}

void VisaVxi11Test::portMapperAndDeviceNames()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--portmapper-port", "0", "--portmapper-target", "pwr"}),
             qPrintable(sim.error()));
    visa::LibraryConfig::setPortMapperPort(quint16(sim.address("portmapper").toUInt()));

    OpenSession session("TCPIP0::127.0.0.1::INSTR");
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "BenchSim,66309D,SIM0002,A.01.05\n"));
    QCOMPARE(sim.transcript("pwr"), QStringList({"*IDN?\\n"}));

    // The simulator serves inst0 only.
    const std::size_t before = openCount();
    OpenSession unknown(sim.address("dmm-vxi11").replace("::inst0::", "::gpib0,5::"));
    QCOMPARE(unknown.status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(openCount(), before + 1); // the manager only
}

void VisaVxi11Test::openFails_data()
{
    QTest::addColumn<QByteArray>("answer"); // of a scripted server; empty: nobody listens
    QTest::addColumn<bool>("portMapper");   // reached through the port mapper
    QTest::newRow("no port mapper") << QByteArray() << true;
    QTest::newRow("port mapper answers text") << QByteArray("HELLO\n") << true;
    QTest::newRow("record longer than any reply")
        << QByteArray("\xFF\xFF\xFF\xFF garbage") << false;
    QTest::newRow("half a record, then hang up")
        << QByteArray("\x80\x00\x00\x40\x42\x00", 6) << false;
}

void VisaVxi11Test::openFails()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, portMapper);
    ScriptedPeer peer;
    peer.awaitBytes(4).send(answer).pause(20).close().start();
    const quint16 port = answer.isEmpty() ? closedLoopbackPort() : peer.port();
    visa::LibraryConfig::setPortMapperPort(port);
    const std::size_t before = openCount();

    OpenSession session(portMapper ? QString("TCPIP0::127.0.0.1::inst0::INSTR")
                                   : QString("TCPIP0::127.0.0.1,%1::inst0::INSTR").arg(port));
    QVERIFY(session.status < VI_SUCCESS);
    if (answer.isEmpty())
        QCOMPARE(session.status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(session.vi, ViSession(VI_NULL));
    QCOMPARE(openCount(), before + 1); // the manager only
}

void VisaVxi11Test::slowAndSilentInstruments_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<uint>("timeoutMs");
    QTest::addColumn<Read>("read");
    QTest::newRow("silent: times out") << "silent" << 300u << Read(VI_ERROR_TMO, "");
    QTest::newRow("slow: waited for")
        << "slow:300" << 20000u << Read(VI_SUCCESS, "+1.23456789E+00\n");
}

void VisaVxi11Test::slowAndSilentInstruments()
{
    QFETCH(QString, fault);
    QFETCH(uint, timeoutMs);
    QFETCH(Read, read);
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--dmm-fault", fault}), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-vxi11"), timeoutMs);
    QCOMPARE(session.write("READ?\n"), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.read(), read);
    if (read.first == VI_ERROR_TMO) // never early
        QVERIFY2(clock.elapsed() >= timeoutMs, qPrintable(QString::number(clock.elapsed())));
    // The link still works after a timeout.
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
}

void VisaVxi11Test::connectionLost_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("instrument hangs up after a reply") << "disconnect:1";
    QTest::newRow("simulator stopped") << "";
}

void VisaVxi11Test::connectionLost()
{
    QFETCH(QString, fault);
    SimulatorProcess sim;
    QVERIFY2(sim.start(QStringList{"--dmm"} +
                       (fault.isEmpty() ? QStringList() : QStringList{"--dmm-fault", fault})),
             qPrintable(sim.error()));
    // Long: waiting for the timeout instead would show as VI_ERROR_TMO.
    OpenSession session(sim.address("dmm-vxi11"), 20000);
    QCOMPARE(session.status, VI_SUCCESS);
    if (fault.isEmpty()) {
        QCOMPARE(sim.stop(), 0);
    } else {
        QCOMPARE(session.write("READ?\n"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, "+1.23456789E+00\n"));
    }
    const ViStatus status = session.write("READ?\n");
    QVERIFY(status == VI_ERROR_CONN_LOST || session.read().first == VI_ERROR_CONN_LOST);
    QCOMPARE(session.read().first, VI_ERROR_CONN_LOST);
}

// A query that outlasts the timeout is abandoned with device_clear: the next
// query gets its own reply, never the late one.
void VisaVxi11Test::clearDropsDelayedReply()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--dmm-fault", "slow:1000"}), qPrintable(sim.error()));
    Link link(sim.address("dmm-vxi11"));
    QCOMPARE(link.status, VI_SUCCESS);
    QCOMPARE(link.write("READ?\n"), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(link.read(300), Read(VI_ERROR_TMO, ""));
    QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(link.transport.clear(visa::Deadline(5000)), VI_SUCCESS);
    QCOMPARE(link.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(link.read(20000), Read(VI_SUCCESS, identity));
}

// While one link holds the lock, another's I/O fails at once and its lock
// waits for the timeout; unlocking or destroying the link hands the lock on.
void VisaVxi11Test::lockHeldByAnotherLink()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--pwr"}), qPrintable(sim.error()));
    auto first = std::make_unique<Link>(sim.address("pwr-vxi11"));
    auto second = std::make_unique<Link>(sim.address("pwr-vxi11"));
    QCOMPARE(first->transport.lockExclusive(visa::Deadline(1000)), VI_SUCCESS);
    QCOMPARE(second->write("*IDN?\n"), VI_ERROR_RSRC_LOCKED);
    QCOMPARE(second->transport.lockExclusive(visa::Deadline(0)), VI_ERROR_RSRC_LOCKED);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(second->transport.lockExclusive(visa::Deadline(300)), VI_ERROR_TMO);
    QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));

    // The holder works on; the status byte shows its waiting reply.
    QCOMPARE(first->write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(first->statusByte() & MessageAvailable, MessageAvailable);
    QCOMPARE(first->read(5000).first, VI_SUCCESS);
    QCOMPARE(first->statusByte(), ViUInt16(0));

    ViStatus waited = VI_ERROR_SYSTEM_ERROR;
    std::thread waiter([&] { waited = second->transport.lockExclusive(visa::Deadline(20000)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QCOMPARE(first->transport.unlock(visa::Deadline(5000)), VI_SUCCESS);
    waiter.join();
    QCOMPARE(waited, VI_SUCCESS);
    QCOMPARE(first->write("*IDN?\n"), VI_ERROR_RSRC_LOCKED);
    second.reset(); // destroyed while holding the lock
    QCOMPARE(first->transport.lockExclusive(visa::Deadline(0)), VI_SUCCESS);
}

QTEST_GUILESS_MAIN(VisaVxi11Test)
#include "tst_visavxi11.moc"
