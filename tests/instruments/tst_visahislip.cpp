// HiSLIP sessions against the simulated instruments: queries and messages
// longer than either side's maximum message size, a late reply after a
// timeout, device clear of a delayed reply, the status byte, the lock
// between two sessions, and the end of a session.

#include "instruments/visa/HislipTransport.h"
#include "instruments/visa/InstrumentSession.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/SimulatorProcess.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

using visa::Deadline;
using visa::HislipTransport;

namespace {

const QByteArray identity = "BenchSim,34461A,SIM0001,A.02.14\n";
const QByteArray reading = "+1.23456789E+00\n";

// A session over the transport itself, for what the C functions do not
// reach: clear, the status byte and the lock.
struct Link
{
    explicit Link(const QString &resource,
                  std::uint64_t maximumMessageSize = HislipTransport::DefaultMaximumMessageSize)
    {
        visa::ResourceName name;
        visa::ResourceName::parse(resource.toUtf8().constData(), name);
        auto owned = std::make_unique<HislipTransport>(maximumMessageSize);
        status = owned->open(name, Deadline(2000));
        transport = owned.get();
        session = std::make_unique<visa::InstrumentSession>(name, std::move(owned));
        session->setAttribute(VI_ATTR_TMO_VALUE, 5000);
    }
    ViStatus write(const QByteArray &bytes)
    {
        ViUInt32 written = 0;
        return session->write(reinterpret_cast<ViConstBuf>(bytes.constData()),
                              ViUInt32(bytes.size()), written);
    }
    Read read()
    {
        QByteArray buffer(400, '\0');
        ViUInt32 returned = 0;
        const ViStatus result =
            session->read(reinterpret_cast<ViPBuf>(buffer.data()), 400, returned);
        return {result, buffer.left(int(returned))};
    }
    ViUInt16 statusByte()
    {
        ViUInt16 value = 0xFFFF;
        return transport->readStatusByte(value, Deadline(2000)) == VI_SUCCESS ? value : 0xFFFF;
    }

    ViStatus status = VI_SUCCESS;
    HislipTransport *transport = nullptr;
    std::unique_ptr<visa::InstrumentSession> session;
};

} // namespace

class VisaHislipTest : public QObject
{
    Q_OBJECT

private slots:
    void queriesAndLongMessages();
    void timeoutDropsTheLateReply();
    void deviceClearCancelsTheDelayedReply();
    void statusByte();
    void lockBetweenSessions();
    void endOfTheSession();
};

// Writes longer than the simulator's 1024-byte messages go split; a reply
// longer than our own small maximum comes in Data parts ended by DataEND.
void VisaHislipTest::queriesAndLongMessages()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.error()));
    {
        OpenSession session(sim.address("dmm-hislip"));
        QCOMPARE(session.status, VI_SUCCESS);
        QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, identity));
        QCOMPARE(session.write("*CLS" + QByteArray(2500, ' ') + "\n*OPC?"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
        QCOMPARE(sim.transcript("dmm"),
                 QStringList({"*IDN?\\n", "*CLS" + QString(2500, ' ') + "\\n", "*OPC?"}));
    }
    Link link(sim.address("pwr-hislip"), 24); // 8 payload bytes a message
    QCOMPARE(link.status, VI_SUCCESS);
    QCOMPARE(link.transport->instrumentMaximumMessageSize(), quint64(1024));
    QCOMPARE(link.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(link.read(), Read(VI_SUCCESS, "BenchSim,66309D,SIM0002,A.01.05\n"));
}

// The reply the read gave up on still comes, with the id of its query: it
// must not answer the next query.
void VisaHislipTest::timeoutDropsTheLateReply()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--dmm-fault", "slow:700"}), qPrintable(sim.error()));
    OpenSession session(sim.address("dmm-hislip"), 300);
    QCOMPARE(session.write("READ?\n"), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.read(), Read(VI_ERROR_TMO, ""));
    QVERIFY2(clock.elapsed() >= 299, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 20000), VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, identity));
    QCOMPARE(session.write("READ?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, reading));
}

// After a clear the message ids start again, so only the instrument can
// keep the old reply from answering the new query: it must drop it.
void VisaHislipTest::deviceClearCancelsTheDelayedReply()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--dmm-fault", "slow:500"}), qPrintable(sim.error()));
    Link link(sim.address("dmm-hislip"));
    QCOMPARE(link.write("READ?\n"), VI_SUCCESS);
    QCOMPARE(link.transport->clear(Deadline(2000)), VI_SUCCESS);
    QCOMPARE(link.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(link.read(), Read(VI_SUCCESS, identity));
    QCOMPARE(link.write("*OPC?\n"), VI_SUCCESS);
    QCOMPARE(link.read(), Read(VI_SUCCESS, "1\n"));
}

// EAV follows the error queue; MAV shows a reply sent and not yet read.
void VisaHislipTest::statusByte()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm"}), qPrintable(sim.error()));
    Link link(sim.address("dmm-hislip"));
    QCOMPARE(link.write("BOGUS\n*OPC?\n"), VI_SUCCESS);
    QCOMPARE(link.read(), Read(VI_SUCCESS, "1\n"));
    QCOMPARE(link.statusByte(), ViUInt16(0x04));

    // The query and the status query travel on different connections.
    QCOMPARE(link.write("*IDN?\n"), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    ViUInt16 withReply = 0;
    while ((withReply = link.statusByte()) == 0x04 && clock.elapsed() < 5000) {
    }
    QCOMPARE(withReply, ViUInt16(0x14));
    QCOMPARE(link.read(), Read(VI_SUCCESS, identity));
    QCOMPARE(link.write("*CLS\n*OPC?\n"), VI_SUCCESS);
    QCOMPARE(link.read(), Read(VI_SUCCESS, "1\n"));
    QCOMPARE(link.statusByte(), ViUInt16(0));
}

void VisaHislipTest::lockBetweenSessions()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm"}), qPrintable(sim.error()));
    Link first(sim.address("dmm-hislip"));
    auto second = std::make_unique<Link>(sim.address("dmm-hislip"));
    QCOMPARE(first.transport->lockExclusive(Deadline(1000)), VI_SUCCESS);
    QCOMPARE(first.transport->controlRemote(5, Deadline(1000)), VI_SUCCESS); // remote, lockout

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(second->transport->lockExclusive(Deadline(300)), VI_ERROR_TMO);
    QVERIFY2(clock.elapsed() >= 299, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(first.transport->unlock(Deadline(1000)), VI_SUCCESS);
    QCOMPARE(first.transport->unlock(Deadline(1000)), VI_ERROR_IO); // not held any more
    QCOMPARE(second->transport->lockExclusive(Deadline(0)), VI_SUCCESS);
    QCOMPARE(first.transport->lockExclusive(Deadline(0)), VI_ERROR_TMO);
    // A session that ends gives its lock back.
    second.reset();
    QCOMPARE(first.transport->lockExclusive(Deadline(2000)), VI_SUCCESS);
    QCOMPARE(first.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(first.read(), Read(VI_SUCCESS, identity));
}

void VisaHislipTest::endOfTheSession()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--dmm-fault", "disconnect:1"}), qPrintable(sim.error()));
    {
        OpenSession refused(
            QString("TCPIP0::127.0.0.1::hislip0,%1::INSTR").arg(closedLoopbackPort()));
        QCOMPARE(refused.status, VI_ERROR_RSRC_NFOUND);
    }
    // Long: waiting for the timeout instead would show as VI_ERROR_TMO.
    OpenSession session(sim.address("dmm-hislip"), 20000);
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, identity));
    const ViStatus status = session.write("*IDN?\n");
    QVERIFY(status == VI_ERROR_CONN_LOST || session.read().first == VI_ERROR_CONN_LOST);
    QCOMPARE(session.read().first, VI_ERROR_CONN_LOST);
    QCOMPARE(sim.stop(), 0);
}

QTEST_GUILESS_MAIN(VisaHislipTest)
#include "tst_visahislip.moc"
