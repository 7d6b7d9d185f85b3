// The benchsim program: its address line and options, the instruments' SCPI
// over real connections, fault modes, the transcript, a clean stop, and its
// port mapper as a libtirpc client sees it.

#include "tests/support/SimulatorProcess.h"

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

// Sends `lines` on a fresh connection and collects replies until `replies`
// newlines came, the peer closed, or `waitMs` passed.
QByteArray exchange(quint16 port, const QByteArray &lines, int replies, int waitMs = 20000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return "no connection";
    socket.write(lines);
    socket.waitForBytesWritten(5000);
    QByteArray received;
    QDeadlineTimer deadline(waitMs);
    while (received.count('\n') < replies && !deadline.hasExpired() &&
           socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(int(qMax<qint64>(1, qMin<qint64>(50, deadline.remainingTime()))));
        received += socket.readAll();
    }
    return received + socket.readAll();
}

} // namespace

class BenchSimTest : public QObject
{
    Q_OBJECT

private slots:
    void startsAndStopsCleanly_data();
    void startsAndStopsCleanly();
    void badOptions_exitWithMessage_data();
    void badOptions_exitWithMessage();
    void scpiOverSocket_data();
    void scpiOverSocket();
    void silentFault_transcriptRecordsRawLines();
    void fault_disconnectAfterReplies_data();
    void fault_disconnectAfterReplies();
    void portMapperOnPort111_rpcinfo();
};

void BenchSimTest::startsAndStopsCleanly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>(
        "line"); // a pattern; {s} a raw socket, {v} a VXI-11, {h} a HiSLIP resource
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("both, SIGTERM")
        << QStringList()
        << "BENCHSIM dmm={s} dmm-vxi11={v} dmm-hislip={h} pwr={s} pwr-vxi11={v} pwr-hislip={h}"
        << int(SIGTERM);
    QTest::newRow("meter only, SIGINT")
        << QStringList({"--dmm"}) << "BENCHSIM dmm={s} dmm-vxi11={v} dmm-hislip={h}" << int(SIGINT);
    QTest::newRow("supply, port mapper and board")
        << QStringList({"--pwr", "--portmapper-port", "0", "--board"})
        << "BENCHSIM pwr={s} pwr-vxi11={v} pwr-hislip={h} portmapper=[1-9]\\d* board=/dev/pts/\\d+"
        << int(SIGTERM);
}

void BenchSimTest::startsAndStopsCleanly()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, line);
    QFETCH(int, signalNumber);
    SimulatorProcess sim;
    QVERIFY2(sim.start(arguments), qPrintable(sim.error()));
    const QString pattern =
        "^" +
        line.replace("{s}", "TCPIP0::127\\.0\\.0\\.1::[1-9]\\d*::SOCKET")
            .replace("{v}", "TCPIP0::127\\.0\\.0\\.1,[1-9]\\d*::inst0::INSTR")
            .replace("{h}", "TCPIP0::127\\.0\\.0\\.1::hislip0,[1-9]\\d*::INSTR") +
        "$";
    QVERIFY2(QRegularExpression(pattern).match(sim.firstLine()).hasMatch(),
             qPrintable(sim.firstLine()));

    // A connected client does not keep it alive.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost,
                         sim.rawPort(arguments.contains("--pwr") ? "pwr" : "dmm"));
    QVERIFY(client.waitForConnected(5000));
    QCOMPARE(sim.stop(signalNumber), 0);
}

void BenchSimTest::badOptions_exitWithMessage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown fault") << QStringList({"--dmm-fault", "flaky"}) << "unknown fault mode";
    QTest::newRow("port out of range") << QStringList({"--dmm-port", "70000"}) << "--dmm-port";
    QTest::newRow("port mapper to unserved")
        << QStringList({"--dmm", "--portmapper-port", "0", "--portmapper-target", "pwr"})
        << "--portmapper-target";
    QTest::newRow("unknown option") << QStringList({"--frobnicate"}) << "frobnicate";
    QTest::newRow("full scale") << QStringList({"--board", "--full-scale", "0"}) << "--full-scale";
    QTest::newRow("missing codes")
        << QStringList({"--board", "--missing-codes", "3,x"}) << "--missing-codes";
}

void BenchSimTest::badOptions_exitWithMessage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    SimulatorProcess sim;
    QVERIFY(!sim.start(arguments));
    QCOMPARE(sim.process().exitCode(), 2);
    QVERIFY2(sim.error().contains("benchsim: ") && sim.error().contains(message),
             qPrintable(sim.error()));
}

void BenchSimTest::scpiOverSocket_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QByteArray>("replies");

    const QByteArray reading = "+1.23456789E+00";
    QByteArray longReply = reading;
    while (longReply.size() <= 256)
        longReply += "," + reading;
    QTest::newRow("long forms, lower case")
        << QStringList() << "dmm"
        << QByteArray("configure:voltage:dc\nsense:voltage:dc:nplcycles 10\nread?\n")
        << reading + "\n";
    QTest::newRow("two queries on a line")
        << QStringList() << "dmm" << QByteArray("*OPC?;READ?\n") << "1;" + reading + "\n";
    QTest::newRow("errors queued")
        << QStringList() << "dmm"
        << QByteArray("BOGUS?\nVOLT:DC:NPLC abc\nSYST:ERR?\nSYST:ERR?\nSYST:ERR?\n")
        << QByteArray("-113,\"Undefined header\"\n-113,\"Undefined header\"\n+0,\"No error\"\n");
    QTest::newRow("overload beyond 120 % of the range")
        << QStringList{"--reading", "11.9"} << "dmm"
        << QByteArray("VOLT:DC:RANG 10;:READ?\nVOLT:DC:RANG 1;:READ?\n")
        << QByteArray("+1.19000000E+01\n+9.90000000E+37\n");
    QTest::newRow("supply outputs")
        << QStringList() << "pwr" << QByteArray("volt1 3.3\nOutput1:State on\nvoltage1?;OUTP1?\n")
        << QByteArray("+3.30000E+00;1\n");
    QTest::newRow("fault: NUL in the middle")
        << QStringList{"--dmm-fault", "nul"} << "dmm" << QByteArray("READ?\n")
        << QByteArray("+1.2345\0"
                      "6789E+00\n",
                      17);
    QTest::newRow("fault: reply longer than 256 bytes")
        << QStringList{"--dmm-fault", "long"} << "dmm" << QByteArray("READ?\n") << longReply + "\n";
    QTest::newRow("fault: garbage")
        << QStringList{"--dmm-fault", "garbage"} << "dmm" << QByteArray("READ?\n")
        << QByteArray("\x8F\xFF#!?\x01garbage\xC3\x28\x7F\n");
}

void BenchSimTest::scpiOverSocket()
{
    QFETCH(QStringList, options);
    QFETCH(QString, key);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, replies);
    SimulatorProcess sim;
    QVERIFY2(sim.start(options), qPrintable(sim.error()));
    QCOMPARE(exchange(sim.rawPort(key), lines, int(replies.count('\n'))), replies);
}

// A silent meter answers nothing but records every line, escaped.
void BenchSimTest::silentFault_transcriptRecordsRawLines()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--dmm-fault", "silent"}), qPrintable(sim.error()));
    QCOMPARE(exchange(sim.rawPort("dmm"), QByteArray("*IDN?\r\nA\0B\n\xB5\nlast", 17), 1, 300),
             QByteArray());
    QTRY_COMPARE(sim.transcript("dmm"),
                 QStringList({"*IDN?\\r\\n", "A\\x00B\\n", "\\xB5\\n", "last"}));
}

void BenchSimTest::fault_disconnectAfterReplies_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("received");
    QTest::newRow("after two") << "disconnect:2" << QByteArray("0\n0\n");
    QTest::newRow("at the first query") << "disconnect:0" << QByteArray();
}

// The exchange ends when the connection closes, long before its limit.
void BenchSimTest::fault_disconnectAfterReplies()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, received);
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--pwr", "--pwr-fault", fault}), qPrintable(sim.error()));
    QCOMPARE(exchange(sim.rawPort("pwr"), "*TST?\n*TST?\n*TST?\n", 3), received);
}

// Debian's rpcinfo asks the port mapper on port 111, over UDP and TCP, and
// reaches the VXI-11 core channel through it. Port 111 is had in a private
// network namespace, where the banner names the standard resource.
void BenchSimTest::portMapperOnPort111_rpcinfo()
{
    const QString rpcinfo = "/usr/sbin/rpcinfo";
    if (!QFileInfo(rpcinfo).isExecutable())
        QSKIP("no /usr/sbin/rpcinfo (package rpcbind)");
    const QStringList unshare{"unshare", geteuid() == 0 ? "-n" : "-rn"};
    if (QProcess::execute(unshare.first(), unshare.mid(1) + QStringList{"true"}) != 0)
        QSKIP("no private network namespace to be had here");

    const char *script = R"(PATH=$PATH:/usr/sbin:/sbin
ip link set lo up || exit 77
"$0" --pwr --portmapper-port 111 > "$2/banner" &
for _ in $(seq 300); do [ -s "$2/banner" ] && break; sleep 0.1; done
head -n 1 "$2/banner"
"$1" -p 127.0.0.1
"$1" -T udp 127.0.0.1 100000 2
"$1" -T tcp 127.0.0.1 395183 1
kill $!)";
    QTemporaryDir folder;
    QProcess shell;
    shell.start(unshare.first(),
                unshare.mid(1) + QStringList{"sh", "-c", script, BENCHSIM, rpcinfo, folder.path()});
    QVERIFY(shell.waitForFinished(40000));
    if (shell.exitCode() == 77)
        QSKIP("cannot bring up the loopback interface in the namespace");
    const QString output = QString::fromLocal8Bit(shell.readAll());
    QVERIFY2(output.contains(" pwr-vxi11=TCPIP0::127.0.0.1::inst0::INSTR "), qPrintable(output));
    QVERIFY2(output.contains(QRegularExpression("\\n +395183 +1 +tcp +[1-9]\\d*\\n")),
             qPrintable(output));
    QVERIFY2(output.contains("program 100000 version 2 ready and waiting"), qPrintable(output));
    QVERIFY2(output.contains("program 395183 version 1 ready and waiting"), qPrintable(output));
}

QTEST_GUILESS_MAIN(BenchSimTest)
#include "tst_benchsim.moc"
