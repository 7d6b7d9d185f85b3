// One run of the engine against the simulated multimeter (loopback TCP) and
// board (pseudo-terminal), told through its signals, with a clock of the
// test's own for the time stamps and the progress estimate.
#include "context/TestContext.h"
#include "engine/RunEngine.h"
#include "record/RunRecord.h"
#include "tests/support/ContextReset.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimulatedBench.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QDateTime kStart(QDate(2026, 3, 4), QTime(5, 6, 7));

} // namespace

class tst_RunEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void fullRun();
    void edgeCounts_data();
    void edgeCounts();
    void stopMidStepEndsOnceAndKeepsTheRows();
    void progressExtrapolatesTheTimeSpent();
    void missingBoardIsCounted();
    void waitsAreNeverEarly();

private:
    RunSetup setup(const std::array<QString, 4> &parameters);
    QStringList resultLines(const QString &path) const;

    SimulatedBench bench;
    QTemporaryDir *folder = nullptr;
    qint64 clockMs = 0;
};

void tst_RunEngine::initTestCase()
{
    // A reading both tests' ranges take: 10 V for DAC, 1 mA for ISINK.
    QVERIFY2(bench.start({"--reading", "0.000123456"}), qPrintable(bench.error()));
}

void tst_RunEngine::init()
{
    resetTestContext();
    bench.clearTranscripts();
    folder = new QTemporaryDir;
    TestContext.uart.port.setPortName(bench.boardPath());
    clockMs = 0;
}

void tst_RunEngine::cleanup()
{
    delete folder;
    folder = nullptr;
}

RunSetup tst_RunEngine::setup(const std::array<QString, 4> &parameters)
{
    RunSetup run;
    run.parameters = parameters;
    run.testName = dacTestKind().title;
    run.testItem = QStringLiteral("ITEM");
    run.tester = QStringLiteral("QA");
    run.folder = folder->path();
    run.meterAddress = bench.meterResource();
    run.serial = &TestContext.uart;
    // Each read of the clock is ten seconds later, so the estimate is known:
    // the first send is due at 10.5 s, step 1 ends at 20 s, step 2 at 30 s.
    run.clock.monotonicMs = [this] {
        return clockMs += 10000;
    };
    run.clock.localTime = [] {
        return kStart;
    };
    return run;
}

QStringList tst_RunEngine::resultLines(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
}

// Every signal in order, the outcome and the record (the file and the wire of
// the same run are tst_testrun's).
void tst_RunEngine::fullRun()
{
    RunEngine engine(setup({"3", "0", "2", "0"}));
    QStringList events;
    connect(&engine, &RunEngine::valueSent, this, [&](qint64 step, qint32 value) {
        events << QStringLiteral("sent %1 %2").arg(step).arg(value);
    });
    connect(&engine, &RunEngine::readingTaken, this,
            [&](qint64 step, qint64 index, const QString &cell) {
                QVERIFY(!cell.isEmpty() && cell != QLatin1String("ERR"));
                events << QStringLiteral("read %1.%2").arg(step).arg(index);
            });
    connect(&engine, &RunEngine::stepFinished, this,
            [&](qint64 step) { events << QStringLiteral("step %1").arg(step); });
    connect(&engine, &RunEngine::progressChanged, this, [&](const RunProgress &p) {
        events << QStringLiteral("progress %1/%2 %3").arg(p.done).arg(p.total).arg(p.percent);
        QVERIFY(p.remainingMs >= 0);
    });
    QSignalSpy ended(&engine, &RunEngine::runEnded);

    engine.start();
    QVERIFY(engine.isRunning());
    QVERIFY(ended.wait(10000));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(events, QStringList({"sent 1 1", "read 1.1", "read 1.2", "step 1", "progress 1/3 33",
                                  "sent 2 2", "read 2.1", "read 2.2", "step 2", "progress 2/3 66",
                                  "sent 3 3", "read 3.1", "read 3.2", "step 3"}));

    const RunOutcome outcome = ended.at(0).at(0).value<RunOutcome>();
    QCOMPARE(outcome.status, RunOutcome::Finished);
    QVERIFY2(outcome.isClean(), qPrintable(outcome.summary()));
    QCOMPARE(outcome.resultFile,
             folder->path() + QStringLiteral("/[AutoTest][ITEM][QA][260304 050607].txt"));
    engine.stop();

    // The record beside the file says how the run was made and how it ended.
    const std::optional<RunRecord> record = RunRecord::readBeside(outcome.resultFile);
    QVERIFY(record);
    QCOMPARE(record->parametersTyped, QStringList({"3", "0", "2", "0"}));
    QVERIFY(record->meter.identity.startsWith("BenchSim,34461A,"));
    // ISO 8601 with the offset from UTC.
    const QJsonObject json = record->toJson();
    QVERIFY2(json.value("started").toString().startsWith("2026-03-04T05:06:07") &&
                 json.value("started").toString().size() > 19,
             qPrintable(json.value("started").toString()));
    QVERIFY(record->outcome.clean);
}

// Degenerate parameters run as the fields say, never crash or hang.
void tst_RunEngine::edgeCounts_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<qint64>("stepsDone");
    QTest::addColumn<QString>("readings");
    QTest::addColumn<qint64>("readingsTaken");
    QTest::addColumn<QString>("heading");
    QTest::newRow("zero steps end at the first send, nothing sent")
        << "0" << qint64(0) << "2" << qint64(0) << "No.\tDAC\tDMM1\tDMM2";
    QTest::newRow("negative steps run one step")
        << "-4" << qint64(1) << "1" << qint64(1) << "No.\tDAC\tDMM1";
    QTest::newRow("no readings per step still read once")
        << "2" << qint64(2) << "0" << qint64(2) << "No.\tDAC";
}

void tst_RunEngine::edgeCounts()
{
    QFETCH(QString, steps);
    QFETCH(qint64, stepsDone);
    QFETCH(QString, readings);
    QFETCH(qint64, readingsTaken);
    QFETCH(QString, heading);
    RunEngine engine(setup({steps, "0", readings, "0"}));
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    engine.start();
    QVERIFY(ended.wait(5000));
    const RunOutcome outcome = ended.at(0).at(0).value<RunOutcome>();
    engine.stop();
    QCOMPARE(outcome.status, RunOutcome::Finished);
    QCOMPARE(outcome.stepsDone, stepsDone);
    QCOMPARE(outcome.readings, readingsTaken);
    const QStringList lines = resultLines(outcome.resultFile);
    QCOMPARE(lines.value(5), heading);
    QTRY_COMPARE(qint64(bench.boardValues().size()), stepsDone);
    for (int k = 1; k <= stepsDone; ++k)
        QVERIFY(lines.value(5 + k).startsWith(QStringLiteral("%1\t%1\t").arg(k)));
}

void tst_RunEngine::stopMidStepEndsOnceAndKeepsTheRows()
{
    RunEngine engine(setup({"50", "0", "3", "0"}));
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    connect(&engine, &RunEngine::readingTaken, &engine, [&](qint64 step, qint64 index) {
        if (step == 2 && index == 2)
            engine.stop(); // from inside the engine's own signal, as the window's Stop can
    });
    engine.start();
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
    QVERIFY(!engine.isRunning());
    const RunOutcome outcome = ended.at(0).at(0).value<RunOutcome>();
    QCOMPARE(outcome.status, RunOutcome::Stopped);
    QCOMPARE(outcome.stepsDone, 1);
    QCOMPARE(outcome.readings, 5);
    engine.stop();
    QCOMPARE(ended.count(), 1);
    const QStringList lines = resultLines(outcome.resultFile);
    QCOMPARE(lines.size(), 8); // head, heading, row 1, the cut row 2 without its line end
    QCOMPARE(lines.value(7).count(QLatin1Char('\t')), 3);
    QTest::qWait(300); // no timer may fire after the stop
    QCOMPARE(bench.boardValues(), QList<qint32>({1, 2}));
}

// The estimate every display shows: the time spent per completed step, since
// the first send was due, times the steps still to run; between steps it
// counts down, and the elapsed time stops at the end.
void tst_RunEngine::progressExtrapolatesTheTimeSpent()
{
    RunSetup run = setup({"3", "0", "1", "0"});
    run.clock.monotonicMs = [this] {
        return clockMs;
    }; // moved by the test only
    RunEngine engine(run);
    QCOMPARE(engine.currentProgress().remainingMs, -1); // not started
    // Each step takes 1000 ms from its send to its reading.
    connect(&engine, &RunEngine::valueSent, this, [this](qint64 step) {
        clockMs = RunEngine::kFirstSendMs + (step - 1) * (1000 + RunEngine::kNextStepMs);
    });
    connect(&engine, &RunEngine::stepFinished, this, [this] { clockMs += 1000; });
    QList<qint64> seen; // elapsed and remaining: at the step's end, then 700 ms later
    connect(&engine, &RunEngine::progressChanged, this, [&](const RunProgress &progress) {
        clockMs += 700;
        const RunProgress later = engine.currentProgress();
        clockMs -= 700;
        seen << progress.elapsedMs << progress.remainingMs << later.elapsedMs << later.remainingMs;
    });
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    engine.start();
    QVERIFY(ended.wait(10000));
    QCOMPARE(seen, QList<qint64>({1000, 2000, 1700, 1300, 2100, 1050, 2800, 350}));
    clockMs += 5000;
    const RunProgress last = engine.currentProgress();
    QVERIFY(last.finished && last.remainingMs == 0 && last.percent == 100);
    QCOMPARE(last.elapsedMs, 3200);
}

// Without its board a run goes on and counts what did not go out (a run that
// demands its board refuses before any file: tst_engineplan).
void tst_RunEngine::missingBoardIsCounted()
{
    TestContext.uart.port.setPortName(folder->filePath("no-such-port"));
    RunEngine engine(setup({"2", "0", "1", "0"}));
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    engine.start();
    QVERIFY(ended.wait(5000));
    const RunOutcome counted = ended.at(0).at(0).value<RunOutcome>();
    QVERIFY(!counted.boardConnected);
    QCOMPARE(counted.framesNotSent, 2);
}

// Each wait is at least as long as asked: the first send, the settle time,
// the reading interval and the pause between steps.
void tst_RunEngine::waitsAreNeverEarly()
{
    RunEngine engine(setup({"2", "60", "2", "40"}));
    QElapsedTimer clock;
    QList<qint64> times;
    connect(&engine, &RunEngine::valueSent, this, [&] { times << clock.nsecsElapsed(); });
    connect(&engine, &RunEngine::readingTaken, this, [&] { times << clock.nsecsElapsed(); });
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    clock.start();
    engine.start();
    const qint64 startedNs = clock.nsecsElapsed();
    QVERIFY(ended.wait(5000));
    QCOMPARE(times.size(), 6);
    // send, read, read, send, read, read: what each waited for after the one before
    const qint64 waitsMs[] = {RunEngine::kFirstSendMs, 60, 40, RunEngine::kNextStepMs, 60, 40};
    qint64 previous = startedNs;
    for (int i = 0; i < 6; ++i) {
        QVERIFY2(times[i] - previous >= waitsMs[i] * 1000000,
                 qPrintable(QStringLiteral("wait %1: %2 ns").arg(i).arg(times[i] - previous)));
        previous = times[i];
    }
}

QTEST_GUILESS_MAIN(tst_RunEngine)
#include "tst_runengine.moc"
