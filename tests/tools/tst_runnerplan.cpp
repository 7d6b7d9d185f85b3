// benchtest-run with a run plan, as a test executive drives it: the dry run
// that touches nothing, every refusal before the run (status 2, one line,
// within 3 s, no file, no event, nothing sent), and a run from a plan file on
// the simulated bench. The checks themselves are in tst_preflight (a full
// folder among them) and tests/engine/tst_meterchecks.
#include "plan/PlanFile.h"
#include "plan/RunPlan.h"
#include "tests/support/DeviceNode.h"
#include "tests/support/FileBytes.h"
#include "tests/support/RunnerProcess.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SimulatedBench.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

#include <sys/stat.h>

class tst_RunnerPlan : public QObject
{
    Q_OBJECT

private slots:
    // A reading both tests' ranges take: 10 V for DAC, 1 mA for ISINK.
    void initTestCase()
    {
        QVERIFY2(bench.start({"--reading", "0.000123456"}), qPrintable(bench.error()));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    }
    void init() { bench.clearTranscripts(); }
    void dryRunShowsThePlanAndTouchesNothing();
    void refusedBeforeTheRun_data();
    void refusedBeforeTheRun();
    void runsFromAPlanFile();

private:
    // By default a configuration file without a meter: the runner has no address of its own.
    RunnerProcess::Ended run(const QStringList &arguments, const QString &config = QString())
    {
        return RunnerProcess(QStringLiteral(BENCHTEST_RUN),
                             config.isEmpty() ? work.filePath("none.ini") : config)
            .run(arguments);
    }
    QStringList resultFolderEntries() const
    {
        return QDir(results.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    SimulatedBench bench;
    QTemporaryDir results;
    QTemporaryDir work;
    // A configuration file that would block a reader that opened it.
    const QString fifo = work.filePath("fifo.ini");
};

void tst_RunnerPlan::dryRunShowsThePlanAndTouchesNothing()
{
    QTcpServer meter; // sees any connection
    QVERIFY(meter.listen(QHostAddress::LocalHost));
    const QString plan = work.filePath("dac.ini");
    QVERIFY(writeFileBytes(
        plan, "[test]\nitem = R7\n[sweep]\ncodes = 0:4095:64,4095\ndirection = updown\n"
              "[timing]\nsettle-ms = 20\nreadings = 3\ninterval-ms = 5\n[meter]\n"
              "resource = TCPIP0::127.0.0.1::" +
                  QByteArray::number(meter.serverPort()) +
                  "::SOCKET\nnplc = 1\n[board]\nserial = /no/board\n"));
    const RunnerProcess::Ended ended =
        run({"--plan", plan, "--range", "1", "--output", results.path(), "--dry-run"});
    QVERIFY2(ended.status == 0 && ended.err.isEmpty(), qPrintable(ended.err));
    QCOMPARE(resultFolderEntries(), QStringList());
    QVERIFY(!meter.waitForNewConnection(200));

    // What it prints is the effective plan as a plan file, the line's range included.
    PlanSettings settings;
    RunPlan printed;
    QString error;
    QVERIFY2(PlanFile::parse(ended.out, "printed", &settings, &error) &&
                 RunPlan::resolve(settings, &printed, &error),
             qPrintable(error));
    QVERIFY(printed.sweep.count() == 129 && *printed.meter.range() == 1.0 && printed.item == "R7");
    const QString text = QString::fromUtf8(ended.out);
    QVERIFY2(text.startsWith("# The effective plan: 129 steps, about 25s, a file of about ") &&
                 text.contains("\n# Codes: 0, 64, 128, 192, 256, …, 256, 192, 128, 64, 0\n") &&
                 text.contains("\n# Estimated duration: 25s (24910 ms: "),
             qPrintable(text));

    // For a machine: one line, one event.
    const QByteArray event = run({"--plan", plan, "--dry-run", "--events", "json"}).out;
    QCOMPARE(event.count('\n'), 1);
    QCOMPARE(QJsonDocument::fromJson(event)["plan"]["estimate"]["durationMs"].toInteger(), 24910);
    QVERIFY(!meter.waitForNewConnection(100));
}

void tst_RunnerPlan::refusedBeforeTheRun_data()
{
    QTest::addColumn<QString>("meter"); // "bench", "refused", "silent", "scripted", "none"
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("no meter configured")
        << "none" << QStringList{} << "no multimeter configured: give --dmm";
    QTest::newRow("meter refuses the connection")
        << "refused" << QStringList{} << "the multimeter at @meter@ cannot be opened (VI_ERROR_";
    QTest::newRow("meter does not answer")
        << "silent" << QStringList{} << "the multimeter at @meter@ does not answer *IDN?";
    QTest::newRow("another meter") << "bench" << QStringList{"--expect-idn", ",34465A,"}
                                   << "not the expected identity ',34465A,'";
    QTest::newRow("set-up refused")
        << "scripted" << QStringList{} << "refused its set-up: -222,\"Data out of range\"";
    QTest::newRow("plan file with an unknown key")
        << "bench" << QStringList{"--plan", "@bad@"} << "@bad@:2: unknown key 'nplcs' in [meter]";
    QTest::newRow("supply does not answer, with events")
        << "bench" << QStringList{"--plan", "@supply@", "--events", "json"}
        << "the supply at @silent@ does not answer *IDN?";
    QTest::newRow("a plan value out of range") << "bench" << QStringList{"--var4", "-1"}
                                               << "--var4: reading interval -1 ms is not between";
    QTest::newRow("serial device path missing")
        << "bench" << QStringList{"--serial", "/dev/pts/no-such-board"}
        << "serial port /dev/pts/no-such-board not found";
    QTest::newRow("serial port name missing")
        << "bench" << QStringList{"--serial", "ttyNoSuchBoard9"}
        << "serial port ttyNoSuchBoard9 not found";
    QTest::newRow("serial path is no terminal")
        << "bench" << QStringList{"--serial", "@null@"} << "cannot open serial port @null@";
    QTest::newRow("result folder missing")
        << "bench" << QStringList{"--output", "@gone@"} << "result folder @gone@ does not exist";
    QTest::newRow("configuration file is a FIFO")
        << "bench" << QStringList{} << "configuration file @fifo@ is a FIFO, not a regular file";
}

void tst_RunnerPlan::refusedBeforeTheRun()
{
    QFETCH(QString, meter);
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    QTcpServer silent; // the kernel accepts; nobody answers
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const QString silentResource =
        QStringLiteral("TCPIP0::127.0.0.1::%1::SOCKET").arg(silent.serverPort());
    const QString bad = work.filePath("bad.ini");
    const QString supply = work.filePath("supply.ini");
    QVERIFY(writeFileBytes(bad, "[meter]\nnplcs = 1\n") &&
            writeFileBytes(supply, "[supply]\nresource = " + silentResource.toUtf8() +
                                       "\nvoltage = 3.3\ncurrent-limit = 0.1\n"));
    QTemporaryDir nodeFolder;
    QString why;
    const QString null =
        arguments.contains("@null@") ? privateNullDevice(nodeFolder.path(), &why) : QString();
    if (arguments.contains("@null@") && null.isEmpty())
        QSKIP(qPrintable(why));
    const QString config = message.contains("@fifo@") ? fifo : QString();
    for (const auto &[from, to] : {std::pair{"@bad@", bad},
                                   {"@null@", null},
                                   {"@gone@", results.filePath("gone")},
                                   {"@supply@", supply},
                                   {"@silent@", silentResource},
                                   {"@fifo@", fifo}}) {
        arguments.replaceInStrings(from, to);
        message.replace(from, to);
    }
    const QMap<QString, QString> meters{{"bench", bench.meterResource()},
                                        {"refused", bench.refusedResource()},
                                        {"silent", silentResource}};
    if (meters.contains(meter))
        arguments << "--dmm" << meters.value(meter);
    ScriptedPeer scripted;
    if (meter == "scripted") {
        // *IDN?, the driver's *CLS and the DAC set-up, line ends included.
        const int setup = 6 + 5 + 5 + 13 + 16 + 20 + 16;
        scripted.awaitBytes(6).send("BenchSim,34461A,SIM0001,A.02.14\n");
        scripted.awaitBytes(setup + 10).send("-222,\"Data out of range\"\n");
        scripted.awaitBytes(setup + 20).send("+0,\"No error\"\n");
        scripted.start();
        arguments << "--dmm" << scripted.socketResource();
    }
    message.replace("@meter@", arguments.value(arguments.indexOf("--dmm") + 1));
    if (!arguments.contains("--output"))
        arguments << "--output" << results.path();
    arguments += QStringList{"--var1", "3"};

    const RunnerProcess::Ended ended = run(arguments, config);
    QCOMPARE(ended.status, 2);
    QVERIFY2(ended.err.startsWith("benchtest-run: ") && ended.err.count('\n') == 1 &&
                 ended.err.contains(message),
             qPrintable(ended.err));
    QCOMPARE(ended.out, QByteArray());
    // 3 s in a plain build; the sanitizers slow a program's start alone by a second.
    const qint64 refusedWithinMs = qEnvironmentVariableIsSet("ASAN_OPTIONS") ? 6000 : 3000;
    QVERIFY2(ended.ms < refusedWithinMs, qPrintable(QString::number(ended.ms)));
    QCOMPARE(resultFolderEntries(), QStringList());
    QCOMPARE(bench.meterLines().count("Read?\\n"), 0);
    QCOMPARE(bench.boardValues(), QList<qint32>());
    QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
}

// The plan file gives the test, names, timing, meter and port; the command
// line's Var_1 overrides its steps. The meter sees the checks first, on the
// run's own session.
void tst_RunnerPlan::runsFromAPlanFile()
{
    const QString plan = work.filePath("isink.ini");
    QVERIFY(writeFileBytes(
        plan, "[test]\nkind = isink\nitem = R7\ntester = night\n[sweep]\nsteps = 3\n"
              "[timing]\nsettle-ms = 10\nreadings = 2\ninterval-ms = 5\n[meter]\n"
              "resource = " +
                  bench.meterResource().toUtf8() + "\nexpect-idn = ^BenchSim,\n[board]\nserial = " +
                  bench.boardPath().toUtf8() + "\n"));
    const RunnerProcess::Ended ended =
        run({"--plan", plan, "--var1", "2", "--output", results.path()});
    QVERIFY2(ended.status == 0, qPrintable(ended.err));
    const QString file = QString::fromLocal8Bit(ended.out).trimmed().section('\n', -1);
    QVERIFY2(file.startsWith(results.path() + "/[AutoTest][R7][night]["), qPrintable(file));
    QFile result(file);
    QVERIFY(result.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLocal8Bit(result.readAll()).split('\n');
    QCOMPARE(lines.value(5), QStringLiteral("No.\tISINK\tDMM1\tDMM2"));
    QVERIFY(lines.value(7).startsWith("2\t2\t") && lines.value(8).isEmpty());
    QTRY_COMPARE(bench.boardValues(), QList<qint32>({1, 2}));
    const QStringList meter = bench.meterLines();
    // One session: the checks on the one the run goes on with.
    QCOMPARE(meter.mid(0, 7),
             QStringList({"*IDN?\\n", "*CLS\\n", "*CLS\\n", "CONF:CURR:DC\\n", "CURR:DC:NPLC 10\\n",
                          "CURR:DC:RANG 0.001\\n", "SYST:ERR?\\n"}));
    QCOMPARE(meter.count("*IDN?\\n"), 1);
    QCOMPARE(meter.count("Read?\\n"), 4);

    // The record holds Var_1 as typed and the plan file's values as texts.
    QFile record(file.chopped(4) + ".json");
    QVERIFY(record.open(QIODevice::ReadOnly));
    QCOMPARE(
        QJsonDocument::fromJson(record.readAll())["parametersTyped"].toArray().toVariantList().mid(
            0, 4),
        QVariantList({"2", "10", "2", "5"}));
}

QTEST_GUILESS_MAIN(tst_RunnerPlan)
#include "tst_runnerplan.moc"
