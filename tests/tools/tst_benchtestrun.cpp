// benchtest-run as a script sees it: exit status, standard output and the
// result file, against the simulated multimeter and board.
#include "record/RunRecord.h"
#include "tests/support/FileBytes.h"
#include "tests/support/SimulatedBench.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Finished
{
    int exitCode = -1;
    QStringList out; // lines of standard output
    QString err;
};

QStringList lines(const QByteArray &bytes)
{
    QStringList list = QString::fromLocal8Bit(bytes).split(QLatin1Char('\n'));
    if (!list.isEmpty() && list.constLast().isEmpty())
        list.removeLast();
    return list;
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
}

// The result file with its time stamps shown as "[time]" and its readings as "R".
QString masked(const QString &path)
{
    static const QRegularExpression stamp(QStringLiteral("\\[\\d{6} \\d{6}\\]"));
    static const QRegularExpression reading(QStringLiteral("[+-]\\d\\.\\d+E[+-]\\d{2}"));
    return QString::fromUtf8(fileBytes(path)).replace(stamp, "[time]").replace(reading, "R");
}

// A finished run's file from its start line on, as masked() shows it: `rows`
// rows of two cells `cell` each, then the end line.
QString finishedFromItsStart(const QString &test, int rows, const QString &cell)
{
    QString text = "开始时间: [time]\n\nNo.\t" + test + "\tDMM1\tDMM2\n";
    for (int k = 1; k <= rows; ++k)
        text += QStringLiteral("%1\t%1\t%2\t%2\n").arg(k).arg(cell);
    return text + "\n完成时间: [time]\n";
}

// The completion line is there: the run went on to its end.
bool ResultFileEnd(const QString &path)
{
    const QStringList lines = fileLines(path);
    return lines.size() >= 2 && lines[lines.size() - 2].startsWith(QStringLiteral("完成时间: ["));
}

// The environment with the fault shim preloaded and told `variable`.
QProcessEnvironment withFaultShim(const QString &variable, const QString &value)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_PRELOAD", QStringLiteral(FAULT_SHIM));
    environment.insert(variable, value);
    environment.insert("ASAN_OPTIONS",
                       environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    return environment;
}

} // namespace

class tst_BenchtestRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void finishedRun_data();
    void finishedRun();
    void killedRunResumes();
    void resumeRefusesWhatDiffers();
    void closedOutputDoesNotStopTheRun();
    void listResources();
    void terminalBarRunsOnThroughALongSettle();
    void meterFromTheSharedConfigurationNeverWritten();
    void twoRunnersInOneSecond_eachHasItsOwnFileAndRecord();
    void wallClockSteps_leaveElapsedAndRemainingAlone();
    void recordThatCannotBeWritten_isNotClean();

private:
    QStringList shortRun() const;
    Finished run(const QStringList &arguments,
                 const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    QStringList resultFiles() const;

    SimulatedBench bench;
    QTemporaryDir *results = nullptr;
};

void tst_BenchtestRun::initTestCase()
{
    // A reading both tests' ranges take: 10 V for DAC, 1 mA for ISINK.
    QVERIFY2(bench.start({"--reading", "0.000123456"}), qPrintable(bench.error()));
}

void tst_BenchtestRun::init()
{
    bench.clearTranscripts();
    results = new QTemporaryDir;
    QVERIFY(results->isValid());
}

void tst_BenchtestRun::cleanup()
{
    delete results;
    results = nullptr;
}

// Three steps of two readings, a few milliseconds apart.
QStringList tst_BenchtestRun::shortRun() const
{
    return {"--var1", "3", "--var", "2=10", "--var3", "2", "--var", "4=5"};
}

Finished tst_BenchtestRun::run(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BENCHTEST_RUN), arguments);
    Finished finished;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished(1000);
        finished.err = QStringLiteral("did not end by itself");
        return finished;
    }
    finished.exitCode = process.exitCode();
    finished.out = lines(process.readAllStandardOutput());
    finished.err = QString::fromLocal8Bit(process.readAllStandardError());
    return finished;
}

QStringList tst_BenchtestRun::resultFiles() const
{
    QStringList paths;
    const QDir dir(results->path());
    for (const QString &name : dir.entryList({QStringLiteral("*.txt")}, QDir::Files))
        paths << dir.filePath(name);
    return paths;
}

void tst_BenchtestRun::finishedRun_data()
{
    QTest::addColumn<QString>("test");
    QTest::addColumn<bool>("meterAnswers");
    QTest::addColumn<bool>("verbose");

    QTest::newRow("dac") << "dac" << true << false;
    QTest::newRow("isink, verbose") << "isink" << true << true;
    QTest::newRow("meter refuses the connection") << "dac" << false << false;
}

void tst_BenchtestRun::finishedRun()
{
    QFETCH(QString, test);
    QFETCH(bool, meterAnswers);
    QFETCH(bool, verbose);

    const QString meter = meterAnswers ? bench.meterResource() : bench.refusedResource();
    QStringList arguments =
        shortRun() + QStringList{"--test",          test,           "--dmm", meter,      "--serial",
                                 bench.boardPath(), "--item",       "R7/A",  "--tester", "night",
                                 "--output",        results->path()};
    if (verbose)
        arguments << "--verbose";
    // A meter that cannot be reached stops the run before it starts, unless
    // the run is to go on without one.
    if (!meterAnswers)
        arguments << "--allow-no-meter";
    const Finished finished = run(arguments);
    // Only a clean run exits 0; ERR cells give 1 and the reason in one line.
    QVERIFY2(finished.exitCode == (meterAnswers ? 0 : 1), qPrintable(finished.err));
    QCOMPARE(
        finished.err.contains("benchtest-run: the run is not clean: finished with 6 ERR cells\n"),
        !meterAnswers);

    // One line per completed step with the engine's figures, then the file.
    QCOMPARE(finished.out.size(), 4);
    QVERIFY2(finished.out[0].startsWith("step 1/3  33%  remaining "), qPrintable(finished.out[0]));
    QVERIFY2(finished.out[1].startsWith("step 2/3  66%  remaining "), qPrintable(finished.out[1]));
    QVERIFY2(finished.out[2].startsWith("step 3/3  100%  finished  elapsed "),
             qPrintable(finished.out[2]));
    QCOMPARE(resultFiles(), QStringList{finished.out[3]});
    QVERIFY(finished.out[3].startsWith(results->path() + "/[AutoTest][R7_A][night]["));

    // The file as the window would write it: the names as typed, a reading
    // or ERR in every cell, the completion line.
    QCOMPARE(masked(finished.out[3]).section('\n', 1),
             "测试名: [R7/A]\n测试人: [night]\n" +
                 finishedFromItsStart(test.toUpper(), 3, meterAnswers ? "R" : "ERR"));
    QTRY_COMPARE(bench.boardValues(), QList<qint32>({1, 2, 3}));

    // The run's log only on request, and never on standard output.
    QCOMPARE(finished.err.contains("\"TestThread: UART Send " + test.toUpper() + ": 3\""), verbose);
    QCOMPARE(finished.err.contains("warning: the multimeter at " + meter + " does not answer"),
             !meterAnswers);
}

// A run killed with SIGKILL mid-row and taken up again: one file with one
// head block, the rows of steps 1..N once each, one end line, and a record
// with both starts as segments, the first interrupted with its cut row.
void tst_BenchtestRun::killedRunResumes()
{
    const QStringList sweep = {"--var1", "6", "--var2", "30", "--var3", "2", "--var4", "40"};
    QProcess killed;
    killed.start(QStringLiteral(BENCHTEST_RUN),
                 sweep + QStringList{"--dmm", bench.meterResource(), "--serial", bench.boardPath(),
                                     "--output", results->path(), "--verbose"});
    QVERIFY(killed.waitForStarted(5000));
    QByteArray out;
    while (!out.contains("step 3/6")) {
        QVERIFY2(killed.waitForReadyRead(10000), "no progress line");
        out += killed.readAllStandardOutput();
    }
    QTest::qWait(50); // into step 4's readings
    killed.kill();
    QVERIFY(killed.waitForFinished(5000));
    QCOMPARE(resultFiles().size(), 1);
    const QString path = resultFiles().first();
    QVERIFY(!ResultFileEnd(path));

    const Finished resumed = run({"--resume", path, "--verbose"});
    QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.err));
    QCOMPARE(resumed.out.constLast(), path);
    QCOMPARE(resultFiles(), QStringList{path});

    const QString file = masked(path);
    QCOMPARE(file.count(QStringLiteral("开始时间")), 1);
    QCOMPARE(file.section('\n', 3), finishedFromItsStart("DAC", 6, "R"));

    const std::optional<RunRecord> record = RunRecord::readBeside(path);
    QVERIFY(record && record->outcome.clean && record->outcome.readings == 12);
    QCOMPARE(record->segments.size(), 2);
    const RunRecord::Segment first = record->segments.at(0);
    const RunRecord::Segment second = record->segments.at(1);
    QCOMPARE(first.endedAs, QStringLiteral("interrupted"));
    QCOMPARE(second.firstStep, first.lastStep + 1);
    QVERIFY2(first.lastStep >= 2 && first.lastStep < 6,
             qPrintable(QString::number(first.lastStep)));
    QVERIFY(second.lastStep == 6 && second.endedAs == QStringLiteral("finished"));
    // What was cut is the row the kill found begun, if any: its step's number first.
    QVERIFY2(first.cut.isEmpty() ||
                 first.cut.startsWith(QString::number(first.lastStep + 1) + '\t'),
             qPrintable(first.cut));

    // Finished now: a second resume has nothing to do.
    const Finished again = run({"--resume", path});
    QCOMPARE(again.exitCode, 2);
    QVERIFY2(again.err.contains("finished"), qPrintable(again.err));
}

// A resume checks the start against the run: what differs is named and
// refused (status 2, the file untouched), unless --force.
void tst_BenchtestRun::resumeRefusesWhatDiffers()
{
    const Finished stopped =
        run(QStringList{"--var1", "3", "--var2", "0", "--var3", "1", "--var4", "0", "--dmm",
                        bench.meterResource(), "--output", results->path()});
    QCOMPARE(stopped.exitCode, 0);
    const QString path = stopped.out.constLast();
    // Make it an interrupted run: drop the end block and the last row, as a
    // kill would have left it, and mark the record running.
    QVERIFY(writeFileBytes(path, (fileLines(path).mid(0, 6 + 2).join('\n') + "\n3\t3").toUtf8()));
    QJsonObject json = QJsonDocument::fromJson(fileBytes(RunRecord::pathFor(path))).object();
    const auto writeRecord = [&path, &json] {
        return writeFileBytes(RunRecord::pathFor(path), QJsonDocument(json).toJson());
    };
    json.insert("outcome", QJsonObject{{"status", "running"}});
    QVERIFY(writeRecord());
    const QByteArray before = fileBytes(path);

    const Finished other = run({"--resume", path, "--var3", "2", "--test", "isink"});
    QCOMPARE(other.exitCode, 2);
    QVERIFY2(other.err.contains("the test (ISINK, the run's is DAC)") &&
                 other.err.contains("Var_3 (2, the run's is 1)"),
             qPrintable(other.err));
    QCOMPARE(fileBytes(path), before);

    // Another meter: its identity is not the run's.
    json.insert("meter", QJsonObject{{"resource", bench.meterResource()},
                                     {"identity", "OTHER,METER,0,1"},
                                     {"setup", QJsonArray()}});
    QVERIFY(writeRecord());
    const Finished meter = run({"--resume", RunRecord::pathFor(path)});
    QCOMPARE(meter.exitCode, 2);
    QVERIFY2(meter.err.contains("is not the one the run began with"), qPrintable(meter.err));
    QCOMPARE(fileBytes(path), before);

    // --force takes it up all the same, at step 3: the begun row is cut back.
    const Finished forced = run({"--resume", path, "--force"});
    QVERIFY2(forced.exitCode == 0, qPrintable(forced.err));
    QStringList rows = fileLines(path).mid(6, 3);
    for (QString &row : rows)
        row = row.section('\t', 0, 1);
    QCOMPARE(rows, QStringList({"1\t1", "2\t2", "3\t3"}));
}

// A reader that goes away early, as `head -n 2` does, must not end the
// measurement: the run goes on to its end and completes its file.
void tst_BenchtestRun::closedOutputDoesNotStopTheRun()
{
    QProcess shell;
    shell.start(QStringLiteral("sh"),
                {"-c", QStringLiteral("\"$0\" \"$@\" | head -n 2; echo \"status $?\""),
                 QStringLiteral(BENCHTEST_RUN), "--var1", "12", "--var2", "20", "--var3", "2",
                 "--var4", "5", "--dmm", bench.meterResource(), "--serial", bench.boardPath(),
                 "--output", results->path()});
    QVERIFY(shell.waitForFinished(30000));
    QCOMPARE(lines(shell.readAllStandardOutput()).size(), 3); // two progress lines, the status
    // head has gone; the runner finishes on its own.
    QTRY_COMPARE_WITH_TIMEOUT(resultFiles().size(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(ResultFileEnd(resultFiles().first()), 20000);
    const QStringList file = fileLines(resultFiles().first());
    QCOMPARE(file[5 + 12].split('\t').mid(0, 2), QStringList({"12", "12"}));
    QTRY_COMPARE(bench.boardValues().size(), 12);
}

// The program's way into the listing, with the meter named in the
// environment; the SOCKET pattern keeps out what this host's own ports and
// networks hold. Peers that do not answer or lie: tst_resourcelister.
void tst_BenchtestRun::listResources()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BENCHTEST_VISA_RESOURCES"), bench.meterResource());

    const Finished listed = run({"--list-resources", "TCPIP?*SOCKET"}, environment);
    QVERIFY2(listed.exitCode == 0, qPrintable(listed.err));
    QCOMPARE(listed.out,
             QStringList({bench.meterResource() + "\tBenchSim,34461A,SIM0001,A.02.14"}));

    const Finished malformed = run({"--list-resources", "(TCPIP"}, environment);
    QCOMPARE(malformed.exitCode, 2);
    QVERIFY(malformed.out.isEmpty());
    QCOMPARE(malformed.err, "benchtest-run: '(TCPIP' is not a VISA search expression\n");
}

// On a terminal the bar is redrawn while a step waits, with the elapsed time
// going on: a settle time of seconds does not look like a hang.
void tst_BenchtestRun::terminalBarRunsOnThroughALongSettle()
{
    // script(1) gives the runner a pseudo-terminal as its standard output.
    QProcess script;
    script.start("script", {"-qec",
                            QStringLiteral("'%1' --var1 1 --var2 2500 --var3 1 --dmm '%2' "
                                           "--serial '%3' --output '%4'")
                                .arg(BENCHTEST_RUN, bench.meterResource(), bench.boardPath(),
                                     results->path()),
                            results->filePath("typescript")});
    QVERIFY(script.waitForFinished(30000));
    QCOMPARE(script.exitCode(), 0);
    const QString out = QString::fromLocal8Bit(script.readAllStandardOutput());
    // Redrawn before the step ended, at least a second into it.
    QVERIFY2(QRegularExpression("remaining --  elapsed ([1-9]|\\d\\d+)s  \\(step 0/1\\)")
                 .match(out)
                 .hasMatch(),
             qPrintable(out));
    QVERIFY2(QRegularExpression("finished  elapsed (\\d+m )?([2-9]|\\d\\d+)s  \\(step 1/1\\)")
                 .match(out)
                 .hasMatch(),
             qPrintable(out));
}

// Without --dmm the runner takes the window's meter address from the one
// configuration file, and leaves that file, or its absence, as it was.
void tst_BenchtestRun::meterFromTheSharedConfigurationNeverWritten()
{
    QTemporaryDir config;
    const QByteArray text = "[defaultAddr]\nDMM=" + bench.meterResource().toLatin1() + "\n";
    QVERIFY(writeFileBytes(config.filePath("named.ini"), text));
    const QString beside = QFileInfo(QStringLiteral(BENCHTEST_RUN)).dir().filePath("config.ini");
    if (QFile::exists(beside))
        QSKIP("a config.ini lies beside the programs in this build tree");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString variable : {"BENCHTEST_CONFIG", "XDG_CONFIG_HOME"}) {
        // The named file, then the rule: beside the runner, else the user's folder.
        environment.insert(variable,
                           config.filePath(variable == "XDG_CONFIG_HOME" ? "home" : "named.ini"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(BENCHTEST_RUN),
                      shortRun() + QStringList{"--output", results->path()});
        QVERIFY(process.waitForFinished(30000));
        environment.remove(variable);
    }
    QCOMPARE(bench.meterLines().count("Read?\\n"), 6); // only the first run reached the meter
    QCOMPARE(fileBytes(config.filePath("named.ini")), text);
    QVERIFY(!QFile::exists(beside) && !QFile::exists(config.filePath("home")));
}

// Two runner processes started together, with one test, item and tester,
// into one folder: each run has a file and a record of its own, whole.
void tst_BenchtestRun::twoRunnersInOneSecond_eachHasItsOwnFileAndRecord()
{
    const QStringList arguments =
        shortRun() + QStringList{"--item",   "RACE",         "--tester",
                                 "night",    "--dmm",        bench.meterResource(),
                                 "--output", results->path()};
    // The two may land in two seconds on a loaded machine: try until they share one.
    for (int attempt = 0;; ++attempt) {
        QDir(results->path()).removeRecursively();
        QDir().mkpath(results->path());
        QProcess first;
        QProcess second;
        first.start(QStringLiteral(BENCHTEST_RUN), arguments);
        second.start(QStringLiteral(BENCHTEST_RUN), arguments);
        QVERIFY(first.waitForFinished(30000) && second.waitForFinished(30000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);
        const QString one = lines(first.readAllStandardOutput()).constLast();
        const QString two = lines(second.readAllStandardOutput()).constLast();
        QVERIFY(one != two);
        QCOMPARE(resultFiles().size(), 2);
        for (const QString &file : {one, two}) {
            QCOMPARE(masked(file).section('\n', 1),
                     "测试名: [RACE]\n测试人: [night]\n" + finishedFromItsStart("DAC", 3, "R"));
            const std::optional<RunRecord> record = RunRecord::readBeside(file);
            QVERIFY(record && record->resultFile == file && record->outcome.clean);
        }
        QVERIFY(RunRecord::readBeside(one)->runId != RunRecord::readBeside(two)->runId);
        const QString stem = QFileInfo(one).completeBaseName().remove(QStringLiteral(" (2)"));
        if (stem == QFileInfo(two).completeBaseName().remove(QStringLiteral(" (2)")))
            break; // one second, one name asked for twice: the second took " (2)"
        if (attempt == 5)
            QSKIP("the two runs never started within one second");
    }
}

// The wall clock steps a day ahead, then a day back, mid-run: the estimate
// and the elapsed time follow the monotonic clock, only the stamps move.
void tst_BenchtestRun::wallClockSteps_leaveElapsedAndRemainingAlone()
{
    const QString shift = results->filePath("shift");
    const auto setShift = [&shift](const char *seconds) {
        return writeFileBytes(shift, seconds);
    };
    QVERIFY(setShift("0"));
    QProcessEnvironment environment = withFaultShim("BENCHTEST_SHIM_WALL_SHIFT_FILE", shift);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BENCHTEST_RUN),
                  {"--var1", "6", "--var2", "150", "--var3", "1", "--dmm", bench.meterResource(),
                   "--output", results->path()});
    QByteArray out;
    for (const char *step : {"step 2/6", "step 4/6"}) {
        while (!out.contains(step)) {
            QVERIFY2(process.waitForReadyRead(10000), out.constData());
            out += process.readAllStandardOutput();
        }
        QVERIFY(setShift(out.contains("step 4/6") ? "-86400" : "86400"));
    }
    QVERIFY(process.waitForFinished(20000));
    out += process.readAllStandardOutput();
    QCOMPARE(process.exitCode(), 0);
    // Six steps of some 250 ms: every line says seconds, never hours or days.
    const QStringList progress = lines(out).filter(QStringLiteral("step "));
    QCOMPARE(progress.size(), 6);
    const QRegularExpression seconds(QStringLiteral("(remaining \\d+s|finished)  elapsed \\d+s$"));
    for (const QString &line : progress)
        QVERIFY2(seconds.match(line).hasMatch(), qPrintable(line));
    const std::optional<RunRecord> record = RunRecord::readBeside(lines(out).constLast());
    QVERIFY(record);
    QVERIFY2(record->durationMs > 500 && record->durationMs < 30000,
             qPrintable(QString::number(record->durationMs)));
    // The stamps are the wall clock's, as it was when each was taken.
    QVERIFY(record->ended < record->started);
}

// No record can be put in place: the run is measured and written, but not
// clean, and says why.
void tst_BenchtestRun::recordThatCannotBeWritten_isNotClean()
{
    const Finished finished =
        run(shortRun() + QStringList{"--dmm", bench.meterResource(), "--output", results->path()},
            withFaultShim("BENCHTEST_SHIM_FAIL_RECORDS", "1"));
    QCOMPARE(finished.exitCode, 1);
    QVERIFY2(finished.err.contains("the run is not clean: finished with the record not written ("),
             qPrintable(finished.err));
    QVERIFY(ResultFileEnd(finished.out.constLast()));
    QVERIFY(!QFileInfo::exists(RunRecord::pathFor(finished.out.constLast())));
}

QTEST_GUILESS_MAIN(tst_BenchtestRun)
#include "tst_benchtestrun.moc"
