// benchsim stays up for everyone: hostile clients on real loopback sockets
// (a line that never ends, queries whose replies are never read, over the raw
// socket, HiSLIP and VXI-11) neither grow the simulator beyond its bound nor
// slow down a client that behaves. The simulator's memory is read from
// /proc; the figures are printed for the record. And its meter takes its
// time: each READ? lasts its integration time (NPLC cycles of 50 Hz), a
// connection's lines are worked on one after the other, and no reply comes
// early or out of turn.

#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestSeed.h"
#include "tests/tools/BenchSimWire.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace benchsimwire;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// A kilobyte figure of /proc/<pid>/status ("VmHWM", "VmRSS"), in MiB.
double statusMiB(qint64 pid, const char *field)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(field) + ':'))
            return line.mid(qsizetype(qstrlen(field)) + 1).trimmed().split(' ').first().toDouble() /
                   1024.0;
    }
    return -1.0;
}

// A blocking loopback client that gives up a send after 100 ms, so that its
// thread can look at the stop flag while the simulator holds it back.
class RawClient
{
public:
    explicit RawClient(quint16 port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{0, 100000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    // Sends what it can of `bytes` until `stop`; the bytes that went.
    qint64 send(const QByteArray &bytes, const std::atomic<bool> &stop)
    {
        qint64 sent = 0;
        while (sent < bytes.size() && !stop) {
            const ssize_t n =
                ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                break;
        }
        return sent;
    }
    // Up to `size` bytes that come within 100 ms.
    QByteArray receive(int size)
    {
        QByteArray bytes(size, '\0');
        const ssize_t n = ::recv(fd, bytes.data(), size_t(size), MSG_WAITALL);
        return bytes.left(n > 0 ? int(n) : 0);
    }
    // Reads and forgets what has come, without waiting.
    void drain()
    {
        char buffer[65536];
        while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
    }
    bool connected = false;

private:
    int fd = -1;
};

// device_write of `data` on `link`, flags END.
QByteArray deviceWrite(quint32 link, const QByteArray &data)
{
    return vxi11Call(2, 11, words({link, 1000, 1000, 0x08}) + opaque(data));
}

QByteArray createLink()
{
    return vxi11Call(1, 10, words({0, 0, 0}) + opaque("inst0"));
}

// One hostile client: what it connects to and what it keeps sending.
struct Hostile
{
    QString name;
    QString key;            // the banner key of the port
    QByteArray opening;     // sent once first
    QByteArray repeated;    // then again and again
    qint64 total = 0;       // until this much went (0: until stopped)
    bool readsBack = false; // takes the transport's answers, not the data
    // VXI-11: after create_link, device_writes of these on the link made.
    QList<QByteArray> vxi11Writes = {};
};

quint16 portOf(const SimulatorProcess &sim, const QString &key)
{
    if (key == "dmm")
        return sim.rawPort(key);
    // "TCPIP0::127.0.0.1,40002::inst0::INSTR", "TCPIP0::127.0.0.1::hislip0,40003::INSTR"
    return quint16(sim.address(key).section(',', 1).section(':', 0, 0).toUInt());
}

// The round trips of a client that behaves, while `done` is false.
QList<double> roundTrips(quint16 port, const std::atomic<bool> &done)
{
    QList<double> trips;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return trips;
    QElapsedTimer clock;
    while (!done) {
        clock.start();
        socket.write("*IDN?\n");
        while (!socket.canReadLine() && socket.waitForReadyRead(10000)) {
        }
        if (!socket.canReadLine())
            break;
        socket.readLine();
        trips << clock.nsecsElapsed() / 1e6;
        QThread::msleep(20);
    }
    return trips;
}

} // namespace

class BenchSimHostileTest : public QObject
{
    Q_OBJECT

private slots:
    void hostileClients_boundedAndOthersServed();
    void randomHostileClients_boundedAndOthersServed();
    void overlongLine_notExecutedAndQueued();
    void randomLines_repliesInTurnAndNeverEarly();

private:
    void runAgainst(SimulatorProcess &sim, const QList<Hostile> &hostiles, int seconds);
};

void BenchSimHostileTest::runAgainst(SimulatorProcess &sim, const QList<Hostile> &hostiles,
                                     int seconds)
{
    const qint64 pid = sim.process().processId();
    std::atomic<bool> stop{false};
    // The run lasts until every hostile with a total has sent it.
    std::atomic<int> running{int(std::count_if(hostiles.begin(), hostiles.end(),
                                               [](const Hostile &h) { return h.total > 0; }))};
    std::vector<qint64> sent(size_t(hostiles.size()), 0);
    std::vector<std::thread> threads;
    for (qsizetype i = 0; i < hostiles.size(); ++i) {
        Hostile hostile = hostiles.at(i);
        const quint16 port = portOf(sim, hostile.key);
        threads.emplace_back([hostile, port, &stop, &running, &sent, i]() mutable {
            RawClient client(port);
            qint64 &count = sent[size_t(i)];
            if (client.connected) {
                count += client.send(hostile.opening, stop);
                if (!hostile.vxi11Writes.isEmpty()) {
                    // create_link's reply: mark, header of 24 bytes, error, link id.
                    const QByteArray reply = client.receive(36);
                    const quint32 link = reply.size() == 36 ? word(reply, 8) : 1;
                    for (const QByteArray &data : std::as_const(hostile.vxi11Writes))
                        hostile.repeated += deviceWrite(link, data);
                }
                while (!stop && (hostile.total == 0 || count < hostile.total)) {
                    count += client.send(hostile.repeated, stop);
                    if (hostile.readsBack)
                        client.drain();
                }
            }
            if (hostile.total > 0)
                --running;
        });
    }

    // A well-behaved client, and the simulator's memory, meanwhile.
    std::atomic<bool> done{false};
    QList<double> trips;
    std::thread polite([&] { trips = roundTrips(sim.rawPort("dmm"), done); });
    QElapsedTimer clock;
    clock.start();
    double peakRss = 0.0;
    while (clock.elapsed() < seconds * 1000 && running > 0) {
        peakRss = qMax(peakRss, statusMiB(pid, "VmRSS"));
        QThread::msleep(50);
    }
    const double hwm = statusMiB(pid, "VmHWM");
    done = true;
    polite.join();
    stop = true;
    for (std::thread &thread : threads)
        thread.join();

    QStringList pushed;
    for (qsizetype i = 0; i < hostiles.size(); ++i)
        pushed << QString("%1 %2 MiB")
                      .arg(hostiles.at(i).name)
                      .arg(sent[size_t(i)] / double(MiB), 0, 'f', 1);
    std::sort(trips.begin(), trips.end());
    qInfo("hostile clients pushed: %s", qPrintable(pushed.join(", ")));
    qInfo("benchsim memory: peak resident %.1f MiB (VmHWM), largest VmRSS seen %.1f MiB", hwm,
          peakRss);
    QVERIFY2(!trips.isEmpty(), "the well-behaved client got no answer");
    qInfo("well-behaved round trips: %lld, median %.1f ms, slowest %.1f ms", qint64(trips.size()),
          trips.at(trips.size() / 2), trips.last());

    // Under the sanitizers the resident size holds their shadow memory and the
    // quarantine of freed blocks (256 MiB by themselves): only a runaway shows.
    const double hwmBound = qEnvironmentVariableIsSet("ASAN_OPTIONS") ? 1024.0 : 100.0;
    QVERIFY2(hwm > 0.0 && hwm < hwmBound, qPrintable(QString("peak resident %1 MiB").arg(hwm)));
    // The bound demanded is 0.5 s; a loaded machine gets a generous ceiling, and one
    // whose every allocation the sanitizers check a larger one.
    const double slowestBound = qEnvironmentVariableIsSet("ASAN_OPTIONS") ? 5000.0 : 2000.0;
    QVERIFY2(trips.last() < slowestBound, qPrintable(QString("slowest %1 ms").arg(trips.last())));
    QCOMPARE(sim.process().state(), QProcess::Running);
}

void BenchSimHostileTest::hostileClients_boundedAndOthersServed()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm"}, false), qPrintable(sim.error()));
    const QByteArray hislipOpen = hislipMessage(0, 0, 0x0100u << 16 | 'X' << 8 | 'X', "hislip0");
    const QByteArray read = "READ?\n";
    const QList<Hostile> hostiles{
        {"socket, no line end", "dmm", QByteArray(), QByteArray(MiB, 'A'), 300 * MiB},
        {"socket, replies unread", "dmm", QByteArray(), read.repeated(10000)},
        {"HiSLIP, no line end", "dmm-hislip", hislipOpen,
         hislipMessage(6, 0, 0, QByteArray(1000, 'B')).repeated(64), 100 * MiB},
        {"HiSLIP, replies unread", "dmm-hislip", hislipOpen,
         hislipMessage(7, 0, 0, read).repeated(1000)},
        {"VXI-11, nothing read", "dmm-vxi11", createLink(), QByteArray(), 0, false,
         QList<QByteArray>(1000, read)},
        {"VXI-11, data never read", "dmm-vxi11", createLink(), QByteArray(), 20 * MiB, true,
         QList<QByteArray>(100, read)},
    };
    runAgainst(sim, hostiles, 60);
}

// Random hostile clients, with the meter's real timing: what they send,
// whether they read, how they split it, all from a seed.
void BenchSimHostileTest::randomHostileClients_boundedAndOthersServed()
{
    QRandomGenerator random(testSeed(QTest::currentTestFunction()));

    SimulatorProcess sim(SimulatorProcess::Program::BenchSim, SimulatorProcess::Timing::Realistic);
    QVERIFY2(sim.start({"--dmm"}, false), qPrintable(sim.error()));
    const QList<QByteArray> pieces{"READ?\n",
                                   "*IDN?\n",
                                   "BOGUS\n",
                                   "VOLT:DC:NPLC 0.02\n",
                                   "*STB?;*ESR?\n",
                                   "SYST:ERR?\n",
                                   QByteArray(5000, 'x')};
    QList<Hostile> hostiles;
    for (int i = 0; i < 6; ++i) {
        QByteArray stream;
        while (stream.size() < 64 * 1024) {
            const QByteArray &piece = pieces.at(random.bounded(int(pieces.size())));
            stream += random.bounded(8) == 0 ? piece.left(piece.size() / 2) : piece;
        }
        const int transport = random.bounded(3);
        Hostile hostile;
        hostile.name = QString("random %1").arg(i);
        hostile.readsBack = random.bounded(2) == 1;
        hostile.total = 8 * MiB;
        if (transport == 0) {
            hostile.key = "dmm";
            hostile.repeated = stream;
        } else if (transport == 1) {
            hostile.key = "dmm-hislip";
            hostile.opening = hislipMessage(0, 0, 0x0100u << 16, "hislip0");
            for (qsizetype at = 0; at < stream.size(); at += 1000)
                hostile.repeated +=
                    hislipMessage(random.bounded(2) ? 6 : 7, 0, 0, stream.mid(at, 1000));
        } else {
            hostile.key = "dmm-vxi11";
            hostile.opening = createLink();
            for (qsizetype at = 0; at < stream.size(); at += 1000)
                hostile.vxi11Writes << stream.mid(at, 1000);
        }
        hostiles << hostile;
    }
    runAgainst(sim, hostiles, 8);
}

// A line beyond the limit is recorded by its start, not executed, and
// queues -363; the line after it is served as usual.
void BenchSimHostileTest::overlongLine_notExecutedAndQueued()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm"}), qPrintable(sim.error()));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, sim.rawPort("dmm"));
    QVERIFY(socket.waitForConnected(5000));
    socket.write("*CLS\n*IDN?" + QByteArray(40000, ';') + "*IDN?\nSYST:ERR?\n*IDN?\n");
    QByteArray received;
    while (received.count('\n') < 2 && socket.waitForReadyRead(20000))
        received += socket.readAll();
    QCOMPARE(received,
             QByteArray("-363,\"Input buffer overrun\"\nBenchSim,34461A,SIM0001,A.02.14\n"));
    const QStringList lines = sim.transcript("dmm");
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(1), "*IDN?" + QString(16384 - 5, ';'));
}

// Random lines in random pieces: every reply comes in the order of its line
// and no earlier than the integration times of all readings up to it.
void BenchSimHostileTest::randomLines_repliesInTurnAndNeverEarly()
{
    QRandomGenerator random(testSeed(QTest::currentTestFunction()));

    SimulatorProcess sim(SimulatorProcess::Program::BenchSim, SimulatorProcess::Timing::Realistic);
    QVERIFY2(sim.start({"--dmm"}, false), qPrintable(sim.error()));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, sim.rawPort("dmm"));
    QVERIFY(client.waitForConnected(5000));

    const QList<QPair<QByteArray, double>> nplcs{
        {"0.02", 0.4}, {"0.2", 4.0}, {"1", 20.0}, {"0.7", 20.0}};
    double integration = 200.0; // NPLC 10 until set
    double earliest = 0.0;
    QByteArray lines;
    QList<QPair<QByteArray, double>> expected; // reply pattern and earliest time
    for (int i = 0; i < 40; ++i) {
        switch (random.bounded(4)) {
        case 0: {
            const auto &nplc = nplcs.at(random.bounded(int(nplcs.size())));
            lines += "VOLT:DC:NPLC " + nplc.first + '\n';
            integration = nplc.second;
            break;
        }
        case 1:
            lines += "*IDN?\n";
            expected.append({"BenchSim", earliest});
            break;
        case 2:
            lines += "*OPC?\n";
            expected.append({"1", earliest});
            break;
        default:
            if (integration > 100.0)
                break; // keep the run short
            lines += "READ?\n";
            earliest += integration;
            expected.append({"reading", earliest});
            break;
        }
    }
    QElapsedTimer clock; // started before the first piece goes
    clock.start();
    for (qsizetype at = 0; at < lines.size();) {
        const qsizetype piece = random.bounded(1, 40);
        client.write(lines.mid(at, piece));
        client.flush();
        at += piece;
        QThread::usleep(random.bounded(3000));
    }
    // Each reply line with the milliseconds after the clock's start it was read.
    QList<QPair<QByteArray, double>> replies;
    for (QDeadlineTimer deadline(30000); replies.size() < expected.size() && !deadline.hasExpired();
         client.waitForReadyRead(50)) {
        while (client.canReadLine())
            replies.append({client.readLine().trimmed(), clock.nsecsElapsed() / 1e6});
    }
    QCOMPARE(replies.size(), expected.size());
    for (qsizetype i = 0; i < replies.size(); ++i) {
        const QByteArray &reply = replies.at(i).first;
        const QByteArray &kind = expected.at(i).first;
        const QRegularExpression reading("^[+-]\\d\\.\\d{8}E[+-]\\d\\d$");
        const bool right =
            kind == "reading" ? reading.match(reply).hasMatch() : reply.startsWith(kind);
        QVERIFY2(right, qPrintable(QString("reply %1: %2").arg(i).arg(reply.constData())));
        QVERIFY2(replies.at(i).second >= expected.at(i).second,
                 qPrintable(QString("reply %1 after %2 ms, due after %3 ms")
                                .arg(i)
                                .arg(replies.at(i).second)
                                .arg(expected.at(i).second)));
    }
}

QTEST_GUILESS_MAIN(BenchSimHostileTest)
#include "tst_benchsimhostile.moc"
