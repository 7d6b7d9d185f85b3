// The benchsim program: its address line and options, the instruments' SCPI
// over real connections, a clean stop, and its port mapper as a libtirpc
// client sees it. Its fault modes are met in tests/faults/tst_meterfaults.

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
    void startsAndStopsCleanly();
    void badOptions_exitWithMessage_data();
    void badOptions_exitWithMessage();
    void scpiOverSocket_data();
    void scpiOverSocket();
    void portMapperOnPort111_rpcinfo();
    void systemRpcbind_registersWithoutRoot();
};

// Every instrument, the port mapper and the board in the address line; a
// clean stop on SIGINT (on SIGTERM, with clients connected: tst_visainstr's
// connectionLost).
void BenchSimTest::startsAndStopsCleanly()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--portmapper-port", "0", "--board"}), qPrintable(sim.error()));
    const QString socket = "TCPIP0::127\\.0\\.0\\.1::[1-9]\\d*::SOCKET";
    const QString vxi11 = "TCPIP0::127\\.0\\.0\\.1(,[1-9]\\d*)?::inst0::INSTR";
    const QString hislip = "TCPIP0::127\\.0\\.0\\.1::hislip0,[1-9]\\d*::INSTR";
    QString pattern = "^BENCHSIM";
    for (const QString key : {"dmm", "pwr"})
        pattern += QString(" %1=%2 %1-vxi11=%3 %1-hislip=%4").arg(key, socket, vxi11, hislip);
    pattern += " portmapper=[1-9]\\d* board=/dev/pts/\\d+$";
    QVERIFY2(QRegularExpression(pattern).match(sim.firstLine()).hasMatch(),
             qPrintable(sim.firstLine()));
    QCOMPARE(sim.stop(SIGINT), 0);
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

    QTest::newRow("long forms, lower case")
        << QStringList() << "dmm"
        << QByteArray("configure:voltage:dc\nsense:voltage:dc:nplcycles 10\nread?\n")
        << QByteArray("+1.23456789E+00\n");
    QTest::newRow("errors queued")
        << QStringList() << "dmm"
        << QByteArray("BOGUS?\nVOLT:DC:NPLC abc\nSYST:ERR?\nSYST:ERR?\nSYST:ERR?\n")
        << QByteArray(
               "-113,\"Undefined header\"\n-224,\"Illegal parameter value\"\n+0,\"No error\"\n");
    QTest::newRow("error queue overflows into -350")
        << QStringList() << "dmm"
        << QByteArray("*CLS\n") + QByteArray("BOGUS\n").repeated(25) + "SYST:ERR:COUN?\n" +
               QByteArray("SYST:ERR?\n").repeated(21)
        << QByteArray("20\n") + QByteArray("-113,\"Undefined header\"\n").repeated(19) +
               "-350,\"Queue overflow\"\n+0,\"No error\"\n";

    // IEEE 488.2 status reporting: the event register is read and cleared by
    // *ESR? (ESB, RQS and MSS through the masks: tst_visainstr's
    // triggerAndStatusByte).
    QTest::newRow("power-on, then a command error")
        << QStringList() << "dmm" << QByteArray("*ESR?\nBOGUS\n*ESR?\n*ESR?\n")
        << QByteArray("128\n32\n0\n");
    QTest::newRow("execution error from a refused setting")
        << QStringList() << "pwr" << QByteArray("*CLS\nVOLT1 20\n*ESR?;SYST:ERR?;VOLT1?\n")
        << QByteArray("16;-222,\"Data out of range\";+0.00000E+00\n");
    QTest::newRow("*CLS empties the register and the queue, keeps the masks")
        << QStringList() << "dmm"
        << QByteArray("*ESE 60\nBOGUS\n*CLS\n*STB?;*ESR?;SYST:ERR?;*ESE?\n")
        << QByteArray("0;0;+0,\"No error\";60\n");
    QTest::newRow("*RST keeps the status model, resets the set-up")
        << QStringList() << "dmm"
        << QByteArray("*CLS;*ESE 1;VOLT:DC:NPLC 1;BOGUS\n*RST\n*ESE?;SYST:ERR?;VOLT:DC:NPLC?\n")
        << QByteArray("1;-113,\"Undefined header\";+1.00000000E+01\n");

    // The meter's set-up: ranges rounded up, refusals in the error queue.
    QTest::newRow("range rounded up, impossible range refused")
        << QStringList() << "dmm"
        << QByteArray(
               "VOLT:DC:RANG 2\nVOLT:DC:RANG?\nVOLT:DC:RANG 2000\nSYST:ERR?;:VOLT:DC:RANG?\n")
        << QByteArray("+1.00000000E+01\n-222,\"Data out of range\";+1.00000000E+01\n");
    QTest::newRow("current ranges, MIN and MAX")
        << QStringList() << "dmm"
        << QByteArray("CURR:DC:RANG 0.001;:CURR:DC:RANG?\nCURR:DC:RANG MIN;:CURR:DC:RANG?\n"
                      "CURR:DC:RANG MAX;:CURR:DC:RANG?;:CURR:DC:RANG:AUTO?\n")
        << QByteArray("+1.00000000E-03\n+1.00000000E-04\n+1.00000000E+01;0\n");
    QTest::newRow("automatic range after a reading")
        << QStringList{"--reading", "2.5"} << "dmm"
        << QByteArray("VOLT:DC:RANG:AUTO ON\nREAD?\nVOLT:DC:RANG?;:VOLT:DC:RANG:AUTO?\n"
                      "VOLT:DC:RANG:AUTO OFF;:VOLT:DC:RANG?;:VOLT:DC:RANG:AUTO?\n")
        << QByteArray("+2.50000000E+00\n+1.00000000E+01;1\n+1.00000000E+01;0\n");
    QTest::newRow("NPLC rounded up, too much refused, per function")
        << QStringList() << "dmm"
        << QByteArray("VOLT:DC:NPLC 0.5\nCURR:DC:NPLC 200\nSENS:CURR:DC:NPLC MIN\n"
                      "VOLT:DC:NPLC?;:CURR:DC:NPLC?;:SYST:ERR?\n")
        << QByteArray("+1.00000000E+00;+2.00000000E-02;-222,\"Data out of range\"\n");
    QTest::newRow("autozero and input impedance")
        << QStringList() << "dmm"
        << QByteArray("ZERO:AUTO?;:VOLT:DC:ZERO:AUTO OFF;:ZERO:AUTO?\nVOLT:DC:ZERO:AUTO ONCE\n"
                      "SENS:ZERO:AUTO ON;:VOLT:DC:IMP:AUTO ON;:VOLT:DC:IMP:AUTO?;:ZERO:AUTO?\n"
                      "CURR:DC:IMP:AUTO ON;:SYST:ERR?\n")
        << QByteArray("1;0\n1;1\n-113,\"Undefined header\"\n");
    QTest::newRow("overload on the automatic range only beyond the largest")
        << QStringList{"--reading", "1100"} << "dmm"
        << QByteArray("READ?\nCONF:VOLT:DC 100\nREAD?\n")
        << QByteArray("+1.10000000E+03\n+9.90000000E+37\n");
    // Up to 120 % of the range is a reading; beyond it, the overload value.
    QTest::newRow("MEAS? with a range, overload beyond 120 % of it")
        << QStringList{"--reading", "11.9"} << "dmm"
        << QByteArray("MEAS:VOLT:DC? 10\nMEAS:VOLT:DC? 1\nCONF?\n")
        << QByteArray("+1.19000000E+01\n+9.90000000E+37\n\"VOLT +1.00000000E+00\"\n");

    // The supply: settings, output state and the load current.
    QTest::newRow("supply settings and load current")
        << QStringList{"--load-idle", "0.025"} << "pwr"
        << QByteArray(
               "VOLT 3.3;CURR 0.5\nMEAS:CURR?\nOUTP ON\nOUTP?;VOLT?;CURR?;MEAS:CURR?;MEAS:VOLT?\n"
               "OUTP OFF;:OUTP?;MEAS:CURR?\n")
        << QByteArray("+0.00000E+00\n1;+3.30000E+00;+5.00000E-01;+2.50000E-02;+3.30000E+00\n"
                      "0;+0.00000E+00\n");
    // What the supply driver sends on connecting, asking and closing
    // (tst_pwr66309d has its bytes), taken without an error.
    QTest::newRow("the supply driver's commands")
        << QStringList{"--dvm-reading", "1.25"} << "pwr"
        << QByteArray("*TST?\nDISP:CHAN 2\nVOLT2 2.5\nOUTP2 ON\nVOLT1 3.3\nCURR1 0.5\n"
                      "MEAS:DVM:DC?\nOUTP1 OFF\nOUTP2 OFF\n"
                      "OUTP1?;OUTP2?;VOLT1?;CURR1?;VOLT2?;DISP:CHAN?;SYST:ERR?\n")
        << QByteArray("0\n+1.25000E+00\n"
                      "0;0;+3.30000E+00;+5.00000E-01;+2.50000E+00;2;+0,\"No error\"\n");
    QTest::newRow("supply limits per output")
        << QStringList() << "pwr"
        << QByteArray("*CLS\nVOLT2 12;CURR2 1.5;VOLT2 13;CURR1 3.5;OUTP3 ON\n"
                      "VOLT2?;CURR2?;CURR1?;SYST:ERR?;SYST:ERR?;SYST:ERR?\n")
        << QByteArray("+1.20000E+01;+1.50000E+00;+0.00000E+00;-222,\"Data out of range\";"
                      "-222,\"Data out of range\";-113,\"Undefined header\"\n");
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

// With the system's rpcbind on port 111, benchsim run by an unprivileged
// user registers the meter's VXI-11 core channel there, names it in the
// standard form, replaces the entry a killed simulator left behind, leaves a
// live one alone, and removes its own on exit. rpcbind runs in private
// network and mount namespaces, so the machine's own is never touched.
void BenchSimTest::systemRpcbind_registersWithoutRoot()
{
    const QString rpcbind = "/usr/sbin/rpcbind";
    const QString rpcinfo = "/usr/sbin/rpcinfo";
    if (!QFileInfo(rpcbind).isExecutable() || !QFileInfo(rpcinfo).isExecutable())
        QSKIP("no /usr/sbin/rpcbind (package rpcbind, in scripts/packages.txt)");
    if (geteuid() != 0)
        QSKIP("starting the system rpcbind needs root; run the suite as root to cover this");
    if (QProcess::execute("unshare", {"-mn", "true"}) != 0)
        QSKIP("no private network and mount namespaces to be had here");

    const char *script = R"sh(PATH=$PATH:/usr/sbin:/sbin
sim=$0 info=$2 dir=$3
mount -t tmpfs tmpfs /run && ip link set lo up || exit 77
"$1" -f & rpcbind=$!
for _ in $(seq 100); do "$info" -p 127.0.0.1 >/dev/null 2>&1 && break; sleep 0.1; done
start() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$sim" --fast > "$dir/$1" & }
banner() { for _ in $(seq 300); do [ -s "$dir/$1" ] && break; sleep 0.1; done; head -n 1 "$dir/$1"; }
entries() { "$info" -p 127.0.0.1 | grep -c 395183; }
start 1; first=$!; echo "first: $(banner 1)"
"$info" -T tcp 127.0.0.1 395183 1
start 2; second=$!; echo "second: $(banner 2)"
kill -9 $first; wait $first
kill $second; wait $second; echo "second ended $?"
echo "after the killed one: $(entries)"
start 3; third=$!; echo "third: $(banner 3)"
"$info" -T tcp 127.0.0.1 395183 1
kill $third; wait $third; echo "third ended $?"
echo "at the end: $(entries)"
kill $rpcbind)sh";
    QTemporaryDir folder;
    QVERIFY(
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner | QFileDevice::WriteOther |
                                                 QFileDevice::ExeOther | QFileDevice::ReadOther));
    QProcess shell;
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start("unshare", {"-mn", "sh", "-c", script, BENCHSIM, rpcbind, rpcinfo, folder.path()});
    QVERIFY(shell.waitForFinished(60000));
    if (shell.exitCode() == 77)
        QSKIP("cannot mount /run or bring up the loopback interface in the namespace");
    const QString output = QString::fromLocal8Bit(shell.readAll());
    const QString standard = " dmm-vxi11=TCPIP0::127.0.0.1::inst0::INSTR ";
    const QStringList lines = output.split('\n');
    const auto line = [&lines](const QString &start) {
        const QStringList found = lines.filter(QRegularExpression("^" + start));
        return found.isEmpty() ? QString() : found.first();
    };
    QVERIFY2(line("first: ").contains(standard), qPrintable(output));
    // The first still serves: the second keeps to the "host,port" form.
    QVERIFY2(line("second: ")
                 .contains(QRegularExpression(
                     " dmm-vxi11=TCPIP0::127\\.0\\.0\\.1,[1-9]\\d*::inst0::INSTR ")),
             qPrintable(output));
    QVERIFY2(lines.contains("second ended 0"), qPrintable(output));
    // The first was killed: its stale entry stays until the next start
    // replaces it.
    QVERIFY2(lines.contains("after the killed one: 1"), qPrintable(output));
    QVERIFY2(line("third: ").contains(standard), qPrintable(output));
    QCOMPARE(output.count("program 395183 version 1 ready and waiting"), 2);
    QVERIFY2(lines.contains("third ended 0"), qPrintable(output));
    QVERIFY2(lines.contains("at the end: 0"), qPrintable(output));
}

QTEST_GUILESS_MAIN(BenchSimTest)
#include "tst_benchsim.moc"
