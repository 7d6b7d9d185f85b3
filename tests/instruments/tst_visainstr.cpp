// VXI-11 and HiSLIP sessions against the simulated instruments and broken
// servers: END, request sizes and messages longer than either side's maximum
// (the termination character is the session's own: tst_visastreams), the
// port mapper and device names, timeouts and lost connections; device clear,
// the trigger, the status byte and the instrument's lock on the link itself.
// viAssertTrigger on the wire, against scripted instruments: VXI-11
// device_trigger and the HiSLIP Trigger message among the data messages; and
// VXI-11 device_readstb.

#include "instruments/visa/HislipTransport.h"
#include "instruments/visa/InstrumentSession.h"
#include "instruments/visa/LibraryConfig.h"
#include "instruments/visa/SessionTable.h"
#include "instruments/visa/Vxi11Transport.h"
#include "tests/instruments/HostilePeers.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SimulatorProcess.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <thread>

using visa::Deadline;

namespace {

const QByteArray identity = "BenchSim,34461A,SIM0001,A.02.14\n";
const QByteArray reading = "+1.23456789E+00\n";

// A session over a transport made here, for a HiSLIP maximum of our own and
// for the instrument's own lock, which the C functions take only for a
// resource held exclusively.
struct Link : OpenSession
{
    explicit Link(const QString &resource,
                  std::uint64_t hislipMaximum = visa::HislipTransport::DefaultMaximumMessageSize)
    {
        visa::ResourceName name;
        visa::ResourceName::parse(resource.toUtf8().constData(), name);
        std::unique_ptr<visa::Transport> owned;
        const auto open = [&](auto opening) {
            status = opening->open(name, Deadline(5000));
            owned = std::move(opening);
        };
        if (name.kind == visa::ResourceName::Kind::Hislip)
            open(std::make_unique<visa::HislipTransport>(hislipMaximum));
        else
            open(std::make_unique<visa::Vxi11Transport>());
        transport = owned.get();
        vi = visa::SessionTable::instance().addInstrument(
            rm, std::make_shared<visa::InstrumentSession>(name, std::move(owned)));
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000);
    }

    visa::Transport *transport = nullptr;
};

ViUInt16 readStatusByte(const OpenSession &session)
{
    ViUInt16 value = 0xFFFF;
    return viReadSTB(session.vi, &value) == VI_SUCCESS ? value : 0xFFFF;
}

void addTransports()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("vxi11") << "dmm-vxi11";
    QTest::newRow("hislip") << "dmm-hislip";
}

} // namespace

class VisaInstrTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { visa::LibraryConfig::setPortMapperPort(111); }
    void messages_data() { addTransports(); }
    void messages();
    void lateReplyNeverAnswersTheNextQuery_data();
    void lateReplyNeverAnswersTheNextQuery();
    void triggerAndStatusByte_data() { addTransports(); }
    void triggerAndStatusByte();
    void lockHeldByAnotherLink_data() { addTransports(); }
    void lockHeldByAnotherLink();
    void connectionLost_data();
    void connectionLost();
    void portMapperAndDeviceNames();
    void openFails_data();
    void openFails();
    void vxi11TriggerAndStatusByte();
    void hislipTriggerMessage();
};

// A reply longer than the read's count comes in the following reads, with
// END on its last part; two replies are two messages. A write without a
// newline is a message of its own (END); one longer than the simulator's
// 1024-byte messages goes split. A HiSLIP reply longer than our own small
// maximum comes in Data parts ended by DataEND.
void VisaInstrTest::messages()
{
    QFETCH(QString, key);
    SimulatorProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.error()));
    {
        // Long: a read that waited for the timeout instead of END would show as VI_ERROR_TMO.
        OpenSession session(sim.address(key), 20000);
        QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
        for (const QByteArray part : {"BenchSim,3", "4461A,SIM0", "001,A.02.1"})
            QCOMPARE(session.read(10), Read(VI_SUCCESS_MAX_CNT, part));
        QCOMPARE(session.read(10), Read(VI_SUCCESS, "4\n"));
        QCOMPARE(session.write("READ?\n*OPC?\n"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, reading));
        QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
        QCOMPARE(session.write("*IDN?"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, identity));
        QCOMPARE(session.write("*CLS" + QByteArray(2500, ' ') + "\n*OPC?"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
        QCOMPARE(sim.transcript("dmm"),
                 QStringList({"*IDN?\\n", "READ?\\n", "*OPC?\\n", "*IDN?",
                              "*CLS" + QString(2500, ' ') + "\\n", "*OPC?"}));
    }
    if (key.endsWith("hislip")) {
        Link link(sim.address("pwr-hislip"), 24); // 8 payload bytes a message
        QCOMPARE(link.status, VI_SUCCESS);
        QCOMPARE(link.write("*IDN?\n"), VI_SUCCESS);
        QCOMPARE(link.read(), Read(VI_SUCCESS, "BenchSim,66309D,SIM0002,A.01.05\n"));
    }
}

void VisaInstrTest::lateReplyNeverAnswersTheNextQuery_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("clear");
    QTest::newRow("vxi11, device clear") << "dmm-vxi11" << true;
    QTest::newRow("hislip, device clear") << "dmm-hislip" << true;
    // HiSLIP's message ids tell the late reply from the next query's.
    QTest::newRow("hislip, ids alone") << "dmm-hislip" << false;
}

// The reply a read gave up on still comes: after a device clear (the message
// ids start again, so only the instrument can drop it) or by its id, it must
// not answer the next query.
void VisaInstrTest::lateReplyNeverAnswersTheNextQuery()
{
    QFETCH(QString, key);
    QFETCH(bool, clear);
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--dmm-fault", "slow:700"}), qPrintable(sim.error()));
    OpenSession session(sim.address(key), 300);
    QCOMPARE(session.write("READ?\n"), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.read(), Read(VI_ERROR_TMO, ""));
    QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));

    if (clear)
        QCOMPARE(viClear(session.vi), VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 20000), VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, identity));
}

// The trigger makes the meter take the reading FETC? returns (there is none
// before it). EAV follows the error queue, ESB the events *ESE lets through;
// RQS, for what *SRE lets through, is reported once, while *STB? keeps
// reporting it (MSS); MAV shows a reply sent and not yet read.
void VisaInstrTest::triggerAndStatusByte()
{
    QFETCH(QString, key);
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm"}), qPrintable(sim.error()));
    OpenSession session(sim.address(key), 5000);
    QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    QCOMPARE(session.write("FETC?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, reading));
    QCOMPARE(session.write("*ESE 32;*SRE 32;BOGUS\n*OPC?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
    QCOMPARE(readStatusByte(session), ViUInt16(0x64));
    QCOMPARE(readStatusByte(session), ViUInt16(0x24));

    // HiSLIP: the query and the status query travel on different connections.
    QCOMPARE(session.write("*STB?\n"), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    ViUInt16 withReply = 0;
    while ((withReply = readStatusByte(session)) == 0x24 && clock.elapsed() < 5000) {
    }
    QCOMPARE(withReply, ViUInt16(0x34));
    QCOMPARE(session.read(), Read(VI_SUCCESS, "100\n"));
    QCOMPARE(session.write("*CLS\n*OPC?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
    QCOMPARE(readStatusByte(session), ViUInt16(0));
}

// While one link holds the lock, another's lock waits for the timeout (and a
// VXI-11 link's I/O fails at once); unlocking or destroying the link hands
// the lock on.
void VisaInstrTest::lockHeldByAnotherLink()
{
    QFETCH(QString, key);
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm"}), qPrintable(sim.error()));
    auto first = std::make_unique<Link>(sim.address(key));
    auto second = std::make_unique<Link>(sim.address(key));
    QCOMPARE(first->transport->lockExclusive(Deadline(1000)), VI_SUCCESS);
    if (key.endsWith("vxi11"))
        QCOMPARE(second->write("*IDN?\n"), VI_ERROR_RSRC_LOCKED);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(second->transport->lockExclusive(Deadline(300)), VI_ERROR_TMO);
    QVERIFY2(clock.elapsed() >= 299, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(first->write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(first->read(), Read(VI_SUCCESS, identity));

    ViStatus waited = VI_ERROR_SYSTEM_ERROR;
    std::thread waiter([&] { waited = second->transport->lockExclusive(Deadline(20000)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QCOMPARE(first->transport->unlock(Deadline(5000)), VI_SUCCESS);
    waiter.join();
    QCOMPARE(waited, VI_SUCCESS);
    QVERIFY(first->transport->lockExclusive(Deadline(0)) != VI_SUCCESS);
    second.reset(); // destroyed while holding the lock
    QCOMPARE(first->transport->lockExclusive(Deadline(2000)), VI_SUCCESS);
}

void VisaInstrTest::connectionLost_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("fault");
    for (const QString key : {"dmm-vxi11", "dmm-hislip"}) {
        QTest::newRow(qPrintable(key + ": instrument hangs up after a reply"))
            << key << "disconnect:1";
        QTest::newRow(qPrintable(key + ": simulator stopped")) << key << "";
    }
}

void VisaInstrTest::connectionLost()
{
    QFETCH(QString, key);
    QFETCH(QString, fault);
    SimulatorProcess sim;
    QVERIFY2(sim.start(QStringList{"--dmm"} +
                       (fault.isEmpty() ? QStringList() : QStringList{"--dmm-fault", fault})),
             qPrintable(sim.error()));
    // Long: waiting for the timeout instead would show as VI_ERROR_TMO.
    OpenSession session(sim.address(key), 20000);
    QCOMPARE(session.status, VI_SUCCESS);
    if (fault.isEmpty()) {
        QCOMPARE(sim.stop(), 0);
    } else {
        QCOMPARE(session.write("READ?\n"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, reading));
    }
    const ViStatus status = session.write("READ?\n");
    QVERIFY(status == VI_ERROR_CONN_LOST || session.read().first == VI_ERROR_CONN_LOST);
    QCOMPARE(session.read().first, VI_ERROR_CONN_LOST);
}

void VisaInstrTest::portMapperAndDeviceNames()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--portmapper-port", "0", "--portmapper-target", "pwr"}),
             qPrintable(sim.error()));
    visa::LibraryConfig::setPortMapperPort(quint16(sim.address("portmapper").toUInt()));

    OpenSession session("TCPIP0::127.0.0.1::INSTR");
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "BenchSim,66309D,SIM0002,A.01.05\n"));

    // The simulator serves inst0 only.
    const std::size_t before = openHandles();
    OpenSession unknown(sim.address("dmm-vxi11").replace("::inst0::", "::gpib0,5::"));
    QCOMPARE(unknown.status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(openHandles(), before + 1); // the manager only
}

void VisaInstrTest::openFails_data()
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

void VisaInstrTest::openFails()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, portMapper);
    ScriptedPeer peer;
    peer.awaitBytes(4).send(answer).pause(20).close().start();
    const quint16 port = answer.isEmpty() ? closedLoopbackPort() : peer.port();
    visa::LibraryConfig::setPortMapperPort(port);
    const std::size_t before = openHandles();

    OpenSession session(portMapper ? QString("TCPIP0::127.0.0.1::inst0::INSTR")
                                   : QString("TCPIP0::127.0.0.1,%1::inst0::INSTR").arg(port));
    QVERIFY(session.status < VI_SUCCESS);
    if (answer.isEmpty())
        QCOMPARE(session.status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(session.vi, ViSession(VI_NULL));
    QCOMPARE(openHandles(), before + 1); // the manager only
}

// device_trigger carries the link; the instrument's error comes back as
// status. device_readstb's status byte is the one the instrument gave.
void VisaInstrTest::vxi11TriggerAndStatusByte()
{
    QList<QByteArray> calls; // read once the instrument's thread is joined
    {
        HostileServer instrument(rpc::instrument([&calls](PeerLink &link, const rpc::Call &call) {
            if (call.procedure == rpc::DeviceReadStb) {
                link.send(rpc::reply(call.xid, rpc::word(0) + rpc::word(0x5A)));
                return;
            }
            if (call.procedure == rpc::DeviceTrigger) // not destroy_link at the close
                calls << rpc::word(call.procedure) + call.arguments;
            link.send(rpc::reply(call.xid, rpc::word(calls.size() > 1 ? 8 : 0)));
        }));
        OpenSession session(QString("TCPIP0::127.0.0.1,%1::inst0::INSTR").arg(instrument.port()),
                            700);
        QCOMPARE(session.status, VI_SUCCESS);
        QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
        QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_DEFAULT), VI_ERROR_NSUP_OPER);
        QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_SYNC), VI_ERROR_INV_PROT);
        ViUInt16 status = 0;
        QCOMPARE(viReadSTB(session.vi, &status), VI_SUCCESS);
        QCOMPARE(status, ViUInt16(0x5A));
    }
    QCOMPARE(calls.size(), 2);
    // Procedure 14: link 1, no flags, lock timeout 0, the I/O timeout.
    const QByteArray head =
        rpc::word(rpc::DeviceTrigger) + rpc::word(1) + rpc::word(0) + rpc::word(0);
    QVERIFY2(calls[0].startsWith(head), calls[0].toHex().constData());
    QCOMPARE(calls[0].size(), head.size() + 4);
    QVERIFY(rpc::word(700) >= calls[0].mid(head.size()));
}

// The Trigger message takes the next message id, with RMT-delivered once a
// reply was read; the query after it has its own id and gets its reply.
void VisaInstrTest::hislipTriggerMessage()
{
    const auto message = [](std::uint8_t type, char control, std::uint32_t id) {
        return QByteArray(1, char(type)) + control + rpc::word(id);
    };
    QList<QByteArray> seen; // read once the instrument's threads are joined
    {
        HostileServer instrument(hislip::instrument([&](PeerLink &sync) {
            hislip::Message received;
            while (hislip::receive(sync, received)) {
                seen << message(received.type, char(received.control), received.parameter);
                if (received.type == hislip::DataEnd)
                    sync.send(hislip::frame(hislip::DataEnd, 0, received.parameter, "1\n"));
            }
        }));
        OpenSession session(QString("TCPIP0::127.0.0.1::hislip0,%1::INSTR").arg(instrument.port()),
                            2000);
        QCOMPARE(session.status, VI_SUCCESS);
        QCOMPARE(session.write("*OPC?\n"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
        QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
        QCOMPARE(session.write("*OPC?\n"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
    }
    QCOMPARE(seen, QList<QByteArray>({message(hislip::DataEnd, 0, 0xFFFFFF00),
                                      message(hislip::Trigger, 1, 0xFFFFFF02),
                                      message(hislip::DataEnd, 0, 0xFFFFFF04)}));
}

QTEST_GUILESS_MAIN(VisaInstrTest)
#include "tst_visainstr.moc"
