// One run of the engine against a bench in memory, told through its signals,
// with a clock of the test's own for the time stamps and the progress
// estimate. (The real drivers under the engine: tst_hostilemeter and
// tst_boardfaults' instruments that go and come back.)
#include "context/TestContext.h"
#include "engine/RunEngine.h"
#include "record/RunRecord.h"
#include "tests/support/ContextReset.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/FileBytes.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class tst_RunEngine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fullRun();
    void edgeCounts_data();
    void edgeCounts();
    void stopAfterAReading_keepsItAndEndsOnce();
    void progressExtrapolatesTheTimeSpent();
    void missingBoardIsCounted();
    void waitsAreNeverEarly();

private:
    // A run on the fake bench; with `windowWaits`, the window's first send
    // and pause between steps instead of none.
    RunSetup setup(const std::array<QString, 4> &parameters, bool windowWaits = false);

    FakeBench bench;
    QTemporaryDir *folder = nullptr;
    qint64 clockMs = 0;
};

void tst_RunEngine::init()
{
    resetTestContext();
    bench = FakeBench();
    folder = new QTemporaryDir;
    clockMs = 0;
}

void tst_RunEngine::cleanup()
{
    delete folder;
    folder = nullptr;
}

RunSetup tst_RunEngine::setup(const std::array<QString, 4> &parameters, bool windowWaits)
{
    RunSetup run = fakeBenchRun(bench, folder->path());
    run.parameters = parameters;
    if (windowWaits) {
        run.firstSendMs = RunEngine::kFirstSendMs;
        run.nextStepMs = RunEngine::kNextStepMs;
    }
    // Each read of the clock is ten seconds later: the estimate always has time to go by.
    run.clock.monotonicMs = [this] {
        return clockMs += 10000;
    };
    return run;
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
    const RunOutcome outcome = runToEnd(engine);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(events, QStringList({"sent 1 1", "read 1.1", "read 1.2", "step 1", "progress 1/3 33",
                                  "sent 2 2", "read 2.1", "read 2.2", "step 2", "progress 2/3 66",
                                  "sent 3 3", "read 3.1", "read 3.2", "step 3"}));
    QCOMPARE(outcome.status, RunOutcome::Finished);
    QVERIFY2(outcome.isClean(), qPrintable(outcome.summary()));
    QCOMPARE(outcome.resultFile,
             folder->path() + QStringLiteral("/results/[AutoTest][ITEM][QA][260304 050607].txt"));

    // The record beside the file says how the run was made and how it ended.
    const std::optional<RunRecord> record = RunRecord::readBeside(outcome.resultFile);
    QVERIFY(record);
    QCOMPARE(record->parametersTyped, QStringList({"3", "0", "2", "0"}));
    QCOMPARE(record->meter.identity, QStringLiteral("FAKE,DMM,1,1.0"));
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
    const RunOutcome outcome = runToEnd(engine);
    QCOMPARE(outcome.status, RunOutcome::Finished);
    QCOMPARE(outcome.stepsDone, stepsDone);
    QCOMPARE(outcome.readings, readingsTaken);
    const QList<QByteArray> lines = fileBytes(outcome.resultFile).split('\n');
    QCOMPARE(lines.value(5), heading.toUtf8());
    QCOMPARE(qint64(bench.state()->valuesSent.size()), stepsDone);
    for (int k = 1; k <= stepsDone; ++k)
        QVERIFY(lines.value(5 + k).startsWith(QStringLiteral("%1\t%1\t").arg(k).toUtf8()));
}

// A stop from inside the engine's own signal, as the window's Stop can, right
// after a reading: the run ends once, keeps that reading in its open row,
// sends nothing more, and its record ends.
void tst_RunEngine::stopAfterAReading_keepsItAndEndsOnce()
{
    RunEngine engine(setup({"50", "0", "3", "0"}));
    connect(&engine, &RunEngine::readingTaken, &engine, [&](qint64 step, qint64 index) {
        if (step == 2 && index == 2)
            engine.stop();
    });
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    const RunOutcome outcome = runToEnd(engine); // and stops it once more
    QCOMPARE(ended.count(), 1);
    QVERIFY(!engine.isRunning());
    QCOMPARE(outcome.status, RunOutcome::Stopped);
    QCOMPARE(outcome.stepsDone, 1);
    QCOMPARE(outcome.readings, 5);
    QVERIFY(fileBytes(outcome.resultFile).endsWith("\n2\t2\t+4.0000E-03\t+5.0000E-03"));
    QTest::qWait(100); // no timer may fire after the stop
    QCOMPARE(bench.state()->valuesSent, QList<qint32>({1, 2}));
    const std::optional<RunRecord> record = RunRecord::readBeside(outcome.resultFile);
    QVERIFY(record);
    QCOMPARE(record->outcome.status, QStringLiteral("stopped"));
    QCOMPARE(record->outcome.readings, 5);
    QVERIFY(record->durationMs >= 0);
}

// The estimate every display shows: the time spent per completed step, since
// the first send was due, times the steps still to run; between steps it
// counts down, and the elapsed time stops at the end.
void tst_RunEngine::progressExtrapolatesTheTimeSpent()
{
    RunSetup run = setup({"3", "0", "1", "0"}, true);
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

// Without its board (the real serial port, at a path where none is) a run
// goes on and counts what did not go out (a run that demands its board
// refuses before any file: tst_engineplan).
void tst_RunEngine::missingBoardIsCounted()
{
    TestContext.uart.port.setPortName(folder->filePath("no-such-port"));
    RunSetup run = setup({"2", "0", "1", "0"});
    run.ports.board = RunPorts::real(&TestContext.uart).board;
    RunEngine engine(run);
    const RunOutcome counted = runToEnd(engine);
    QVERIFY(!counted.boardConnected);
    QCOMPARE(counted.framesNotSent, 2);
}

// Each wait is at least as long as asked: the first send, the settle time,
// the reading interval and the pause between steps.
void tst_RunEngine::waitsAreNeverEarly()
{
    RunEngine engine(setup({"2", "60", "2", "40"}, true));
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
