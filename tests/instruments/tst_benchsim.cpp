// The benchsim program: its address line and options, SCPI over real
// connections, fault modes at the socket, clean stop on signals.

#include "BenchSimProcess.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>

namespace {

// Sends `lines` on a fresh connection and collects replies until `replies`
// newlines came, the peer closed, or `timeoutMs` passed.
QByteArray exchange(quint16 port, const QByteArray &lines, int replies, int timeoutMs = 2000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return "no connection";
    socket.write(lines);
    socket.waitForBytesWritten(2000);
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (received.count('\n') < replies && clock.elapsed() < timeoutMs &&
           socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(50);
        received += socket.readAll();
    }
    received += socket.readAll();
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(1000);
    return received;
}

} // namespace

class BenchSimTest : public QObject
{
    Q_OBJECT

private slots:
    void addressLine_listsServedInstruments_data();
    void addressLine_listsServedInstruments();
    void badOptions_exitWithMessage_data();
    void badOptions_exitWithMessage();
    void help_documentsAddressLine();
    void scpi_caseInsensitiveOverSocket_data();
    void scpi_caseInsensitiveOverSocket();
    void transcript_recordsRawLines();
    void fault_silentNeverAnswers();
    void fault_disconnectAfterReplies_data();
    void fault_disconnectAfterReplies();
    void signals_stopCleanly_data();
    void signals_stopCleanly();
};

void BenchSimTest::addressLine_listsServedInstruments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("both") << QStringList() << QStringList({"dmm", "dmm-vxi11", "pwr", "pwr-vxi11"});
    QTest::newRow("meter only") << QStringList({"--dmm"}) << QStringList({"dmm", "dmm-vxi11"});
    QTest::newRow("supply with port mapper") << QStringList({"--pwr", "--portmapper-port", "0"})
                                             << QStringList({"pwr", "pwr-vxi11", "portmapper"});
}

void BenchSimTest::addressLine_listsServedInstruments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, keys);
    BenchSimProcess sim(arguments);
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    for (const char *key : {"dmm", "dmm-vxi11", "pwr", "pwr-vxi11", "portmapper"})
        QCOMPARE(!sim.address(key).isEmpty(), keys.contains(key));
    for (const QString &key : keys) {
        const QString address = sim.address(key);
        if (key == "portmapper")
            QVERIFY(address.toUInt() > 0);
        else if (key.endsWith("vxi11"))
            QVERIFY2(QRegularExpression("^TCPIP0::127\\.0\\.0\\.1,[1-9][0-9]*::inst0::INSTR$")
                         .match(address)
                         .hasMatch(),
                     qPrintable(address));
        else
            QVERIFY2(QRegularExpression("^TCPIP0::127\\.0\\.0\\.1::[1-9][0-9]*::SOCKET$")
                         .match(address)
                         .hasMatch(),
                     qPrintable(address));
    }
    QCOMPARE(sim.stop(), 0);
}

void BenchSimTest::badOptions_exitWithMessage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown fault") << QStringList({"--dmm-fault", "flaky"}) << "unknown fault mode";
    QTest::newRow("port out of range") << QStringList({"--dmm-port", "70000"}) << "--dmm-port";
    QTest::newRow("reading not a number") << QStringList({"--reading", "abc"}) << "--reading";
    QTest::newRow("port mapper to unserved")
        << QStringList({"--dmm", "--portmapper-port", "0", "--portmapper-target", "pwr"})
        << "--portmapper-target";
    QTest::newRow("unknown option") << QStringList({"--frobnicate"}) << "frobnicate";
}

void BenchSimTest::badOptions_exitWithMessage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess program;
    program.start(BENCHSIM_EXECUTABLE, arguments);
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(program.readAllStandardOutput().isEmpty());
    const QString error = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(error.contains(message), qPrintable(error));
}

void BenchSimTest::help_documentsAddressLine()
{
    QProcess program;
    program.start(BENCHSIM_EXECUTABLE, {"--help"});
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 0);
    const QString help = QString::fromUtf8(program.readAllStandardOutput());
    for (const char *text : {"BENCHSIM dmm=", "portmapper=", "--transcript", "--dmm-fault",
                             "disconnect[:N]", "SIGTERM"})
        QVERIFY2(help.contains(text), text);
}

void BenchSimTest::scpi_caseInsensitiveOverSocket_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QByteArray>("replies");
    QTest::newRow("meter identity, lower case")
        << "dmm" << QByteArray("*idn?\n") << QByteArray("BenchSim,34461A,SIM0001,A.02.14\n");
    QTest::newRow("meter set-up then reading, long forms")
        << "dmm" << QByteArray("configure:voltage:dc\nsense:voltage:dc:nplcycles 10\nread?\n")
        << QByteArray("+1.23456789E+00\n");
    QTest::newRow("meter two replies in one segment")
        << "dmm" << QByteArray("READ?\nmeas:dvm:dc?\n")
        << QByteArray("+1.23456789E+00\n+1.23456789E+00\n");
    QTest::newRow("supply outputs")
        << "pwr" << QByteArray("volt1 3.3\nOutput1:State on\nvoltage1?;OUTP1?\n")
        << QByteArray("+3.30000E+00;1\n");
    QTest::newRow("supply self-test") << "pwr" << QByteArray("*tst?\n") << QByteArray("0\n");
}

void BenchSimTest::scpi_caseInsensitiveOverSocket()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, replies);
    BenchSimProcess sim;
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    QCOMPARE(exchange(sim.rawPort(key), lines, int(replies.count('\n'))), replies);
}

void BenchSimTest::transcript_recordsRawLines()
{
    BenchSimProcess sim({"--dmm"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    exchange(sim.rawPort("dmm"), QByteArray("*CLS\r\nA\0B\n\xB5\nlast", 16), 0, 200);
    QTRY_COMPARE_WITH_TIMEOUT(sim.transcript("dmm"),
                              QStringList({"*CLS\\r\\n", "A\\x00B\\n", "\\xB5\\n", "last"}), 2000);
}

void BenchSimTest::fault_silentNeverAnswers()
{
    BenchSimProcess sim({"--dmm", "--dmm-fault", "silent"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    QCOMPARE(exchange(sim.rawPort("dmm"), "*IDN?\nREAD?\n", 1, 300), QByteArray());
    QCOMPARE(sim.transcript("dmm"), QStringList({"*IDN?\\n", "READ?\\n"}));
}

void BenchSimTest::fault_disconnectAfterReplies_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("received");
    QTest::newRow("after one") << "disconnect:1" << QByteArray("0\n");
    QTest::newRow("after two") << "disconnect:2" << QByteArray("0\n0\n");
    QTest::newRow("at the first query") << "disconnect:0" << QByteArray();
}

void BenchSimTest::fault_disconnectAfterReplies()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, received);
    BenchSimProcess sim({"--pwr", "--pwr-fault", fault});
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    QElapsedTimer clock;
    clock.start();
    // The connection closes: the exchange ends long before its 2 s limit.
    QCOMPARE(exchange(sim.rawPort("pwr"), "*TST?\n*TST?\n*TST?\n", 3), received);
    QVERIFY(clock.elapsed() < 1500);
}

void BenchSimTest::signals_stopCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void BenchSimTest::signals_stopCleanly()
{
    QFETCH(int, signalNumber);
    BenchSimProcess sim;
    QVERIFY2(sim.isRunning(), qPrintable(sim.error()));
    // A connected client does not keep it alive.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, sim.rawPort("dmm"));
    QVERIFY(client.waitForConnected(2000));
    ::kill(pid_t(sim.process().processId()), signalNumber);
    QVERIFY(sim.process().waitForFinished(3000));
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
}

QTEST_GUILESS_MAIN(BenchSimTest)
#include "tst_benchsim.moc"
