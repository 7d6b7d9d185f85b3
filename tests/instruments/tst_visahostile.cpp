// Hostile instruments on real loopback sockets: HiSLIP, VXI-11, port mapper,
// raw socket and serial peers that flood, trickle, never end a reply or
// announce more than any reply holds, and seeded rounds of random HiSLIP
// junk (BENCHTEST_SEED replays one). Every call returns by its deadline (never
// before it) with a status, and what the peer can make the library hold
// stays within its fixed bounds (the process's peak memory, getrusage).

#include "instruments/visa/LibraryConfig.h"
#include "tests/instruments/HostilePeers.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/TestSeed.h"
#include "tools/boardsim/PseudoTerminal.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr ViUInt32 TimeoutMs = 300;
// The tests' ceiling on lateness (a loaded machine may pre-empt for long);
// the lateness itself is printed for each case.
constexpr qint64 CeilingMs = 2000;

// A hostile peer, the resource that reaches it and how to read from it.
struct Hostile
{
    std::unique_ptr<HostileServer> peer;
    QString resource;
    ViUInt32 count = 200;    // the read's buffer
    bool staleFirst = false; // a read times out before the measured one
};
using MakeHostile = std::function<Hostile()>;

Hostile serve(HostileServer::Serve serve, const char *pattern)
{
    auto peer = std::make_unique<HostileServer>(std::move(serve));
    const QString resource = QString(pattern).arg(peer->port());
    return {std::move(peer), resource};
}

// The synchronous channel's next query, or false when the client went.
bool awaitQuery(PeerLink &sync, hislip::Message &query)
{
    while (hislip::receive(sync, query)) {
        if (query.type == hislip::Data || query.type == hislip::DataEnd)
            return true;
    }
    return false;
}

// A HiSLIP peer that plays `answer` to every query, with the query's id.
Hostile hislipPeer(std::function<void(PeerLink &, std::uint32_t id)> answer, ViUInt32 count = 200)
{
    Hostile hostile = serve(hislip::instrument([answer](PeerLink &sync) {
                                hislip::Message query;
                                while (awaitQuery(sync, query))
                                    answer(sync, query.parameter);
                            }),
                            "TCPIP0::127.0.0.1::hislip0,%1::INSTR");
    hostile.count = count;
    return hostile;
}

Hostile vxi11Peer(std::function<void(PeerLink &, const rpc::Call &)> onRead, ViUInt32 count = 200)
{
    Hostile hostile = serve(rpc::instrument(onRead), "TCPIP0::127.0.0.1,%1::inst0::INSTR");
    hostile.count = count;
    return hostile;
}

Hostile streamPeer(std::function<void(PeerLink &)> stream, ViUInt32 count = 200)
{
    Hostile hostile = serve(
        [stream](PeerLink &link) {
            QByteArray query;
            if (link.receive(6, query)) // "*IDN?\n"
                stream(link);
            link.idle(60000);
        },
        "TCPIP0::127.0.0.1::%1::SOCKET");
    hostile.count = count;
    return hostile;
}

long peakKilobytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Reads once with the timeout, checking the status and that it came in time.
void expectTimeout(OpenSession &session, ViUInt32 count, const QString &what,
                   ViUInt32 timeoutMs = TimeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    const Read read = session.read(count);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(read.first, VI_ERROR_TMO);
    const QString late = QString("%1: returned %2 ms after the timeout of %3 ms")
                             .arg(what)
                             .arg(elapsed - qint64(timeoutMs))
                             .arg(timeoutMs);
    QVERIFY2(elapsed >= timeoutMs && elapsed <= timeoutMs + CeilingMs, qPrintable(late));
    qInfo("%s", qPrintable(late));
}

} // namespace

Q_DECLARE_METATYPE(MakeHostile)

class VisaHostileTest : public QObject
{
    Q_OBJECT

private slots:
    void memoryStaysBounded_data();
    void memoryStaysBounded(); // first: the peak still shows this test's own growth
    void readKeepsItsDeadline_data();
    void readKeepsItsDeadline();
    void randomHislipJunkKeepsTheDeadline();
    void serialTrickleKeepsTheDeadline();
    void hostilePortMapperKeepsTheOpenTimeout_data();
    void hostilePortMapperKeepsTheOpenTimeout();
    void terminateCutsAWaitShort_data();
    void terminateCutsAWaitShort();
    void cleanup() { visa::LibraryConfig::setPortMapperPort(111); }
};

void VisaHostileTest::memoryStaysBounded_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("hislip: 48 MiB message announced and sent") << "hislip";
    QTest::newRow("vxi11: 48 MiB record announced and sent") << "vxi11 record";
    QTest::newRow("vxi11: fragments without end") << "vxi11 fragments";
    QTest::newRow("socket: 48 MiB without a line end") << "socket";
}

// A peer that sends 48 MiB for one reply makes the library hold at most a
// fixed amount beyond the caller's buffer: the HiSLIP message size it
// offered, the longest RPC record it takes, a socket chunk.
void VisaHostileTest::memoryStaysBounded()
{
    QFETCH(QString, name);
    constexpr int Total = 48 << 20;
    const QByteArray block(64 << 10, '\0');
    const auto stream = [block](PeerLink &link, int total) {
        for (int sent = 0; sent < total && link.send(block); sent += block.size()) {
        }
    };
    Hostile peer;
    ViStatus expected = VI_ERROR_IO;
    if (name == "hislip") {
        peer = hislipPeer([&](PeerLink &sync, std::uint32_t id) {
            if (sync.send(hislip::frame(hislip::DataEnd, 0, id, QByteArray(), Total)))
                stream(sync, Total);
        });
    } else if (name.startsWith("vxi11")) {
        const bool fragments = name.endsWith("fragments");
        // `fragments` ends with this block; the peer's thread outlives it.
        peer = vxi11Peer([&, fragments](PeerLink &link, const rpc::Call &) {
            if (fragments) {
                const QByteArray fragment = rpc::word(std::uint32_t(block.size())) + block;
                for (int sent = 0; sent < Total && link.send(fragment); sent += block.size()) {
                }
            } else if (link.send(rpc::word(0x80000000u | Total))) {
                stream(link, Total);
            }
        });
    } else {
        peer = streamPeer([&](PeerLink &link) { stream(link, Total); });
        expected = VI_SUCCESS_MAX_CNT;
    }

    const long before = peakKilobytes();
    OpenSession session(peer.resource, 20000);
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    const Read read = session.read(64 << 10);
    QCOMPARE(read.first, expected);
    const long grown = peakKilobytes() - before;
    qInfo("peak memory grew by %ld KiB", grown);
    QVERIFY2(grown < 16 * 1024, qPrintable(QString("%1 KiB").arg(grown)));
}

void VisaHostileTest::readKeepsItsDeadline_data()
{
    QTest::addColumn<MakeHostile>("make");
    const auto row = [](const char *name, MakeHostile make) {
        QTest::newRow(name) << make;
    };
    row("hislip: endless empty Data", [] {
        return hislipPeer([](PeerLink &sync, std::uint32_t id) {
            const QByteArray empty = hislip::frame(hislip::Data, 0, id);
            while (sync.send(empty.repeated(64))) {
            }
        });
    });
    row("hislip: endless unknown message types", [] {
        return hislipPeer([](PeerLink &sync, std::uint32_t) {
            while (sync.send(hislip::frame(99, 0, 0, "?").repeated(64))) {
            }
        });
    });
    // The first query gets no answer; the second a flood of late answers to
    // the first.
    row("hislip: stale message ids", [] {
        auto first = std::make_shared<std::uint32_t>(0);
        Hostile hostile = hislipPeer([first](PeerLink &sync, std::uint32_t id) {
            if (*first == 0) {
                *first = id;
                return;
            }
            const QByteArray late = hislip::frame(hislip::DataEnd, 0, *first, "+1.0\n");
            while (sync.send(late.repeated(64))) {
            }
        });
        hostile.staleFirst = true;
        return hostile;
    });
    row("hislip: byte-by-byte trickle", [] {
        return hislipPeer([](PeerLink &sync, std::uint32_t id) {
            const QByteArray reply = hislip::frame(hislip::DataEnd, 0, id, QByteArray(500, 'x'));
            for (char byte : reply) {
                if (!sync.send(QByteArray(1, byte)))
                    return;
                sync.idle(5);
            }
        });
    });
    row("hislip: reply that never ends", [] {
        return hislipPeer(
            [](PeerLink &sync, std::uint32_t id) {
                while (sync.send(hislip::frame(hislip::Data, 0, id, QByteArray(64, 'x'))))
                    sync.idle(2);
            },
            1u << 20);
    });
    row("vxi11: endless stale replies", [] {
        return vxi11Peer([](PeerLink &link, const rpc::Call &call) {
            for (std::uint32_t n = 1;
                 link.send(rpc::reply(call.xid + n, rpc::readResult("1\n", 4))); ++n) {
            }
        });
    });
    row("vxi11: endless empty reads", [] {
        return vxi11Peer([](PeerLink &link, const rpc::Call &call) {
            link.send(rpc::reply(call.xid, rpc::readResult(QByteArray(), 0)));
        });
    });
    row("vxi11: byte-by-byte trickle", [] {
        return vxi11Peer([](PeerLink &link, const rpc::Call &call) {
            for (char byte : rpc::reply(call.xid, rpc::readResult(QByteArray(200, 'x'), 4))) {
                if (!link.send(QByteArray(1, byte)))
                    return;
                link.idle(5);
            }
        });
    });
    row("vxi11: reply that never ends", [] {
        return vxi11Peer(
            [](PeerLink &link, const rpc::Call &call) {
                link.send(rpc::reply(call.xid, rpc::readResult(QByteArray(12, 'x'), 0)));
            },
            1u << 20);
    });
    row("vxi11: never answers",
        [] { return vxi11Peer([](PeerLink &link, const rpc::Call &) { link.idle(60000); }); });
    row("socket: byte-by-byte trickle", [] {
        return streamPeer([](PeerLink &link) {
            while (link.send("x"))
                link.idle(5);
        });
    });
    row("socket: reply that never ends", [] {
        return streamPeer(
            [](PeerLink &link) {
                while (link.send(QByteArray(4096, 'x')))
                    link.idle(2);
            },
            2u << 20); // more than comes before the timeout
    });
}

void VisaHostileTest::readKeepsItsDeadline()
{
    QFETCH(MakeHostile, make);
    const Hostile hostile = make();
    QVERIFY(hostile.peer);
    OpenSession session(hostile.resource, TimeoutMs);
    QCOMPARE(session.status, VI_SUCCESS);
    if (hostile.staleFirst) {
        QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
        expectTimeout(session, hostile.count, "unanswered query");
    }
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    expectTimeout(session, hostile.count, QTest::currentDataTag());
    // The session is still there to be closed (by OpenSession) or used.
    ViUInt32 timeout = 0;
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
}

// Seeded rounds of a HiSLIP peer that mixes empty Data, unknown types,
// messages for other ids and parts of a reply that never ends, in random
// batches and pauses, against random timeouts.
void VisaHostileTest::randomHislipJunkKeepsTheDeadline()
{
    QRandomGenerator random(testSeed(QTest::currentTestFunction()));
    for (int round = 0; round < 4; ++round) {
        const quint32 peerSeed = random.generate();
        const ViUInt32 timeoutMs = 100 + random.bounded(300u);
        const Hostile peer = hislipPeer([peerSeed](PeerLink &sync, std::uint32_t id) {
            QRandomGenerator junk(peerSeed);
            while (sync.alive()) {
                QByteArray batch;
                for (int n = 1 + junk.bounded(64); n > 0; --n) {
                    switch (junk.bounded(4)) {
                    case 0:
                        batch += hislip::frame(hislip::Data, 0, id);
                        break;
                    case 1:
                        batch += hislip::frame(std::uint8_t(20 + junk.bounded(200)), 0, id, "?");
                        break;
                    case 2: // an earlier id, no END
                        batch += hislip::frame(hislip::Data, 0, id - 2 - junk.bounded(8u), "1\n");
                        break;
                    default:
                        batch +=
                            hislip::frame(hislip::Data, 0, id, QByteArray(junk.bounded(32), 'x'));
                        break;
                    }
                }
                if (!sync.send(batch))
                    return;
                sync.idle(junk.bounded(3));
            }
        });
        OpenSession session(peer.resource, timeoutMs);
        QCOMPARE(session.status, VI_SUCCESS);
        QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
        expectTimeout(session, 1u << 20, QString("round %1").arg(round), timeoutMs);
        if (QTest::currentTestFailed())
            return;
    }
}

// A serial device (the other side of a pseudo-terminal) that sends a byte
// every 5 ms and never a line end.
void VisaHostileTest::serialTrickleKeepsTheDeadline()
{
    PseudoTerminal device;
    QString error;
    QVERIFY2(device.open(&error), qPrintable(error));
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        while (!stop && device.write("x"))
            ::usleep(5000);
    });
    {
        OpenSession session("ASRL" + device.devicePath() + "::INSTR", TimeoutMs);
        QCOMPARE(session.status, VI_SUCCESS);
        expectTimeout(session, 4096, "serial: byte-by-byte trickle");
    }
    stop = true;
    trickle.join();
}

void VisaHostileTest::hostilePortMapperKeepsTheOpenTimeout_data()
{
    QTest::addColumn<bool>("flood");
    QTest::newRow("floods stale replies") << true;
    QTest::newRow("never answers") << false;
}

// Opening through a port mapper that floods or stays silent ends with the
// open timeout: the instrument is not found.
void VisaHostileTest::hostilePortMapperKeepsTheOpenTimeout()
{
    QFETCH(bool, flood);
    HostileServer mapper([flood](PeerLink &link) {
        rpc::Call call;
        if (!rpc::receive(link, call))
            return;
        for (std::uint32_t n = 1; flood && link.send(rpc::reply(call.xid + n, rpc::word(1024)));
             ++n) {
        }
        link.idle(60000);
    });
    visa::LibraryConfig::setPortMapperPort(mapper.port());
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViSession vi = VI_NULL;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(viOpen(rm, "TCPIP0::127.0.0.1::inst0::INSTR", VI_NULL, TimeoutMs, &vi),
             VI_ERROR_RSRC_NFOUND);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= TimeoutMs && elapsed <= TimeoutMs + CeilingMs,
             qPrintable(QString::number(elapsed)));
    qInfo("port mapper: returned %lld ms after the timeout", elapsed - qint64(TimeoutMs));
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void VisaHostileTest::terminateCutsAWaitShort_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("hislip") << "hislip";
    QTest::newRow("vxi11") << "vxi11";
    QTest::newRow("socket") << "socket";
}

// viTerminate from another thread ends the read that waits on a silent peer
// at once, with VI_ERROR_ABORT; a raise with no operation waiting ends the
// next wait instead, and only that one.
void VisaHostileTest::terminateCutsAWaitShort()
{
    QFETCH(QString, kind);
    const Hostile peer =
        kind == "hislip"  ? hislipPeer([](PeerLink &sync, std::uint32_t) { sync.idle(60000); })
        : kind == "vxi11" ? vxi11Peer([](PeerLink &link, const rpc::Call &) { link.idle(60000); })
                          : streamPeer([](PeerLink &link) { link.idle(60000); });
    static constexpr ViUInt32 TimeoutMs = 20000;
    static constexpr int RaiseAfterMs = 100;
    OpenSession session(peer.resource, TimeoutMs);
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);

    QElapsedTimer waited;
    waited.start();
    ViStatus raised = VI_ERROR_SYSTEM_ERROR;
    std::thread raiser([&session, &raised] {
        std::this_thread::sleep_for(std::chrono::milliseconds(RaiseAfterMs));
        raised = viTerminate(session.vi, 0, VI_NULL);
    });
    const Read read = session.read();
    raiser.join();
    QCOMPARE(raised, VI_SUCCESS);
    QCOMPARE(read.first, VI_ERROR_ABORT);
    QVERIFY2(waited.elapsed() >= RaiseAfterMs, "the read ended before the raise");
    QVERIFY2(waited.elapsed() < TimeoutMs / 2,
             qPrintable(QString("the read ended after %1 ms").arg(waited.elapsed())));

    // A raise ahead of the read: that read ends at once, the next waits its time.
    QCOMPARE(viTerminate(session.vi, 0, VI_NULL), VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    QCOMPARE(session.read().first, VI_ERROR_ABORT);
    QElapsedTimer second;
    second.start();
    QCOMPARE(session.read().first, VI_ERROR_TMO);
    QVERIFY(second.elapsed() >= 300);
}

QTEST_GUILESS_MAIN(VisaHostileTest)
#include "tst_visahostile.moc"
