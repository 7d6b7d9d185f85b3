// benchsim's meter takes its time: each READ? lasts its integration time
// (NPLC cycles of 50 Hz), a connection's lines are worked on one after the
// other, and no reply comes early or out of turn.

#include "tests/support/SimulatorProcess.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QtTest>

namespace {

// A client on the meter's raw socket that notes when each reply line came.
class TimedClient
{
public:
    explicit TimedClient(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
    }
    bool connected() const { return socket.state() == QAbstractSocket::ConnectedState; }

    // Sends `lines` at once; the clock starts when they are written.
    void send(const QByteArray &lines)
    {
        clock.start();
        write(lines);
    }
    // More bytes, the clock running on.
    void write(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // The next `count` reply lines with the milliseconds after send() each came.
    QList<QPair<QByteArray, double>> replies(int count)
    {
        QList<QPair<QByteArray, double>> received;
        QDeadlineTimer deadline(30000);
        while (received.size() < count && !deadline.hasExpired()) {
            while (socket.canReadLine() && received.size() < count)
                received.append({socket.readLine().trimmed(), clock.nsecsElapsed() / 1e6});
            if (received.size() < count)
                socket.waitForReadyRead(50);
        }
        return received;
    }

private:
    QTcpSocket socket;
    QElapsedTimer clock;
};

bool isReading(const QByteArray &reply)
{
    return QRegularExpression("^[+-]\\d\\.\\d{8}E[+-]\\d\\d$").match(reply).hasMatch();
}

} // namespace

class BenchSimTimingTest : public QObject
{
    Q_OBJECT

private slots:
    void randomLines_repliesInTurnAndNeverEarly();
};

// Random lines in random pieces: every reply comes in the order of its line
// and no earlier than the integration times of all readings up to it.
void BenchSimTimingTest::randomLines_repliesInTurnAndNeverEarly()
{
    const quint32 seed = qEnvironmentVariableIsSet("TIMING_SEED")
                             ? quint32(qEnvironmentVariableIntValue("TIMING_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("seed %u (replay with TIMING_SEED=%u)", seed, seed);
    QRandomGenerator random(seed);

    SimulatorProcess sim(SimulatorProcess::Program::BenchSim, SimulatorProcess::Timing::Realistic);
    QVERIFY2(sim.start({"--dmm"}, false), qPrintable(sim.error()));
    TimedClient client(sim.rawPort("dmm"));
    QVERIFY(client.connected());

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
    client.send(QByteArray()); // the clock starts before the first piece goes
    for (qsizetype at = 0; at < lines.size();) {
        const qsizetype piece = random.bounded(1, 40);
        client.write(lines.mid(at, piece));
        at += piece;
        QThread::usleep(random.bounded(3000));
    }
    const auto replies = client.replies(int(expected.size()));
    QCOMPARE(replies.size(), expected.size());
    for (qsizetype i = 0; i < replies.size(); ++i) {
        const QByteArray &reply = replies.at(i).first;
        const QByteArray &kind = expected.at(i).first;
        const bool right = kind == "reading" ? isReading(reply) : reply.startsWith(kind);
        QVERIFY2(right, qPrintable(QString("reply %1: %2").arg(i).arg(reply.constData())));
        QVERIFY2(replies.at(i).second >= expected.at(i).second,
                 qPrintable(QString("reply %1 after %2 ms, due after %3 ms")
                                .arg(i)
                                .arg(replies.at(i).second)
                                .arg(expected.at(i).second)));
    }
}

QTEST_GUILESS_MAIN(BenchSimTimingTest)
#include "tst_benchsimtiming.moc"
