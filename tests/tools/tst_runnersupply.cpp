// benchtest-run powering the board from the simulated supply: its settings
// and output on before the first code goes out (its current in the PWR
// column: tst_runnerevents), and the output off at the end, after Ctrl-C or SIGTERM and after a
// meter fault, as the simulator's transcript and its state afterwards show. An output left on is a
// safety fault: every ending is tried with the real signal or fault. (A meter
// refused before the run never has the output switched on: tst_engineplan.)
#include "record/RunRecord.h"
#include "tests/support/FileBytes.h"
#include "tests/support/RunnerProcess.h"
#include "tests/support/SimulatorProcess.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// The supply's own word on whether output 1 is on, asked afresh.
QByteArray outputState(const SimulatorProcess &sim)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), sim.rawPort(QStringLiteral("pwr")));
    if (!socket.waitForConnected(5000))
        return "no connection";
    socket.write("OUTP1?\n");
    while (!socket.canReadLine() && socket.waitForReadyRead(5000)) {
    }
    return socket.readLine().trimmed();
}

} // namespace

class tst_RunnerSupply : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void outputOff_data();
    void outputOff();

private:
    // `sweep`: the [sweep] section's line.
    QString planFile(const SimulatorProcess &bench, const QByteArray &sweep, int settleMs);

    SimulatorProcess sim;
    QTemporaryDir work;
};

void tst_RunnerSupply::initTestCase()
{
    // The board in the simulator's own process: the meter reads its output,
    // the supply's current follows its code.
    QVERIFY2(sim.start({"--board", "--gain", "0.0005"}), qPrintable(sim.error()));
}

QString tst_RunnerSupply::planFile(const SimulatorProcess &bench, const QByteArray &sweep,
                                   int settleMs)
{
    static int count = 0;
    const QString path = work.filePath(QStringLiteral("plan%1.ini").arg(++count));
    const QByteArray text =
        "[sweep]\n" + sweep + "\n[timing]\nsettle-ms = " + QByteArray::number(settleMs) +
        "\nreadings = 2\ninterval-ms = 0\n[meter]\nresource = " + bench.address("dmm").toUtf8() +
        "\n[board]\nserial = " + bench.address("board").toUtf8() +
        "\n[supply]\nresource = " + bench.address("pwr").toUtf8() +
        "\nchannel = 1\nvoltage = 3.3\ncurrent-limit = 0.05\n"
        "read-current = yes\n";
    return writeFileBytes(path, text) ? path : QString();
}

void tst_RunnerSupply::outputOff_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<int>("status");
    QTest::newRow("at the end") << "end" << 0;
    QTest::newRow("after Ctrl-C") << "SIGINT" << 128 + SIGINT;
    QTest::newRow("after SIGTERM") << "SIGTERM" << 128 + SIGTERM;
    // Clean or not as the drop meets a query or not: -1, either.
    QTest::newRow("after the meter drops its connection mid-run") << "meter drops" << -1;
}

void tst_RunnerSupply::outputOff()
{
    QFETCH(QString, ending);
    QFETCH(int, status);

    SimulatorProcess faulty;
    SimulatorProcess *bench = &sim;
    if (ending == "meter drops") {
        // Its fifth reply, the third reading, is its last on each connection.
        QVERIFY2(faulty.start({"--board", "--gain", "0.0005", "--dmm-fault", "disconnect:5"}),
                 qPrintable(faulty.error()));
        bench = &faulty;
    }
    const qsizetype seen = bench->transcript().size();
    const bool signalled = ending.startsWith("SIG");
    const QString plan =
        planFile(*bench, signalled ? "steps = 40" : "steps = 6", signalled ? 30 : 0);
    QTemporaryDir results;
    RunnerProcess runner(QStringLiteral(BENCHTEST_RUN), work.filePath("none.ini"));
    QVERIFY(runner.start({"--plan", plan, "--output", results.path()}));
    if (signalled) {
        QVERIFY2(runner.waitFor("step 2/40"), "no progress line");
        runner.signal(ending == "SIGINT" ? SIGINT : SIGTERM);
    }
    const RunnerProcess::Ended ended = runner.finish();
    if (status < 0)
        QVERIFY2(ended.status == 0 || ended.status == 1, qPrintable(ended.err));
    else
        QVERIFY2(ended.status == status, qPrintable(ended.err));

    const QStringList lines = bench->transcript().mid(seen);
    const QStringList outputs = lines.filter(QRegularExpression("^pwr OUTP1 (ON|OFF)"));
    QCOMPARE(outputState(*bench), QByteArray("0"));
    // On once, before the first code; off after the last measurement.
    QCOMPARE(outputs, QStringList({"pwr OUTP1 ON\\n", "pwr OUTP1 OFF\\n"}));
    const qsizetype on = lines.indexOf("pwr OUTP1 ON\\n");
    const qsizetype off = lines.indexOf("pwr OUTP1 OFF\\n");
    // indexOf() and lastIndexOf() take a pattern that matches the whole line.
    const qsizetype firstCode = lines.indexOf(QRegularExpression("board value .*"));
    QVERIFY2(on >= 0 && firstCode > on, qPrintable(lines.join(QLatin1Char('|'))));
    const qsizetype lastMeasurement =
        lines.lastIndexOf(QRegularExpression("(pwr MEAS:CURR1\\?|dmm Read\\?)\\\\n"));
    QVERIFY2(lastMeasurement > firstCode && lastMeasurement < off,
             qPrintable(lines.join(QLatin1Char('|'))));
    QVERIFY(lines.mid(0, on).contains("pwr VOLT1 3.3\\n") &&
            lines.mid(0, on).contains("pwr CURR1 0.05\\n"));

    // The record says the output went off.
    const QString file = QString::fromLocal8Bit(ended.out).trimmed().section('\n', -1);
    const std::optional<RunRecord> record = RunRecord::readBeside(file);
    QVERIFY2(record, qPrintable(file));
    QVERIFY(!record->outcome.supplyLeftOn);
    QCOMPARE(record->outcome.clean, ended.status == 0);
    // The meter did drop: the driver opened it again and asked who it is.
    if (ending == "meter drops")
        QVERIFY2(lines.filter("dmm *IDN?").size() >= 2, qPrintable(lines.join(QLatin1Char('|'))));
}

QTEST_GUILESS_MAIN(tst_RunnerSupply)
#include "tst_runnersupply.moc"
