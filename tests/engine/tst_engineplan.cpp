// A run plan carried out by the engine, against a bench in memory: the
// plan's codes in the plan's order, its meter set-up, and the supply that
// powers the board, on before the first step and off whatever ends the run.
// The default plan is the window's run, byte for byte and line for line.
#include "context/TestContext.h"
#include "engine/RunEngine.h"
#include "plan/MeterSetup.h"
#include "record/RunRecord.h"
#include "tests/support/ContextReset.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// The file's step rows, split into cells.
QList<QStringList> rows(const QString &path)
{
    QList<QStringList> cells;
    const QList<QByteArray> lines = fileBytes(path).split('\n');
    for (qsizetype i = 6; i < lines.size() && !lines.at(i).isEmpty(); ++i)
        cells << QString::fromUtf8(lines.at(i)).split(QLatin1Char('\t'));
    return cells;
}

SupplyPlan supplyPlan(bool readsCurrent)
{
    SupplyPlan supply;
    supply.resource = QStringLiteral("FAKE::PWR");
    supply.channel = 2;
    supply.voltage = 3.3;
    supply.currentLimit = 0.05;
    supply.readsCurrent = readsCurrent;
    return supply;
}

} // namespace

class tst_EnginePlan : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void defaultPlan_isTheWindowsRun_data();
    void defaultPlan_isTheWindowsRun();
    void sweep_sendsThePlansCodesInItsOrder();
    void supply_onBeforeTheFirstStep_currentsInTheFileAndTheRecord();
    void supplyOutput_offWhateverEndsTheRun_data();
    void supplyOutput_offWhateverEndsTheRun();
    void refusedBeforeAnyFile_data();
    void refusedBeforeAnyFile();

private:
    RunSetup setup(const FakeBench &bench) const { return fakeBenchRun(bench, folder->path()); }
    QStringList folderEntries() const;

    QTemporaryDir *folder = nullptr;
};

void tst_EnginePlan::init()
{
    resetTestContext();
    folder = new QTemporaryDir;
}

void tst_EnginePlan::cleanup()
{
    delete folder;
    folder = nullptr;
}

QStringList tst_EnginePlan::folderEntries() const
{
    return QDir(folder->filePath(QStringLiteral("results")))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

void tst_EnginePlan::defaultPlan_isTheWindowsRun_data()
{
    QTest::addColumn<bool>("isink");
    QTest::newRow("dac") << false;
    QTest::newRow("isink") << true;
}

// The runner's default plan (the codes 1 … Var_1, the test's own set-up) and
// the window's run: the same file bytes, log lines, meter commands and values.
void tst_EnginePlan::defaultPlan_isTheWindowsRun()
{
    QFETCH(bool, isink);
    const TestKind *kind = isink ? &isinkTestKind() : &dacTestKind();
    struct Run
    {
        QByteArray file;
        QStringList log;
        QStringList timeline;
    };
    const auto run = [&](bool planned) {
        FakeBench bench;
        RunSetup window = fakeBenchRun(bench, folder->filePath(planned ? "planned" : "window"));
        window.kind = kind;
        window.testName = kind->title;
        if (planned) {
            window.sweep = SweepPlan::counting(3);
            window.meterSetup = MeterSetup::defaults(isink ? MeterSetup::Function::Current
                                                           : MeterSetup::Function::Voltage)
                                    .commands();
            window.plan = QJsonObject{{"test", isink ? "isink" : "dac"}};
        }
        LogCapture log;
        RunEngine engine(window);
        const RunOutcome outcome = runToEnd(engine);
        QStringList lines = log.lines();
        lines.replaceInStrings(window.folder, QStringLiteral("<folder>"));
        return Run{fileBytes(outcome.resultFile), lines, bench.state()->timeline};
    };
    const Run window = run(false);
    const Run planned = run(true);
    QVERIFY(window.file.contains("\n3\t3\t"));
    QCOMPARE(planned.file, window.file);
    QCOMPARE(planned.log, window.log);
    QCOMPARE(planned.timeline, window.timeline);
}

// Step k sends the k-th code; its row reads "k<TAB>code"; progress and the
// record count the plan's steps; the plan's set-up replaces the test's.
void tst_EnginePlan::sweep_sendsThePlansCodesInItsOrder()
{
    FakeBench bench;
    RunSetup run = setup(bench);
    SweepPlan::Definition definition;
    definition.codes = QStringLiteral("4095:0:2048,-7");
    definition.direction = SweepPlan::Direction::UpDown;
    QString error;
    SweepPlan sweep;
    QVERIFY2(SweepPlan::build(definition, &sweep, &error), qPrintable(error));
    run.sweep = sweep;
    run.meterSetup = {"*CLS", "CONF:VOLT:DC", "VOLT:DC:NPLC 1", "VOLT:DC:RANG 1"};
    run.plan = QJsonObject{{"sweep", sweep.toJson()}};
    RunEngine engine(run);
    QList<qint64> totals;
    connect(&engine, &RunEngine::progressChanged, this,
            [&](const RunProgress &progress) { totals << progress.total; });
    const RunOutcome outcome = runToEnd(engine);
    QVERIFY2(outcome.isClean(), qPrintable(outcome.summary()));

    const QList<qint32> codes{4095, 2047, -7, 2047, 4095};
    QCOMPARE(bench.state()->valuesSent, codes);
    const QList<QStringList> cells = rows(outcome.resultFile);
    QCOMPARE(cells.size(), codes.size());
    for (int k = 1; k <= codes.size(); ++k)
        QCOMPARE(cells[k - 1].mid(0, 2),
                 QStringList({QString::number(k), QString::number(codes[k - 1])}));
    QCOMPARE(totals, QList<qint64>(codes.size() - 1, codes.size()));
    QCOMPARE(bench.state()->commands.mid(0, 4), run.meterSetup);
    QVERIFY(!bench.state()->commands.contains("VOLT:DC:NPLC 10"));

    const std::optional<RunRecord> record = RunRecord::readBeside(outcome.resultFile);
    QVERIFY(record);
    QCOMPARE(record->parametersUsed.steps, codes.size());
    QCOMPARE(record->meter.setup, run.meterSetup);
    QCOMPARE(record->plan, run.plan);
    QVERIFY(!record->supply);
}

// Settings applied, then the output on, before the first code goes out;
// each step's current in a PWR column after the meter's cells: ERR where it
// did not come or a stray put it in doubt, other text kept as sent, each of
// those making the run not clean; the record holds the supply and the count.
void tst_EnginePlan::supply_onBeforeTheFirstStep_currentsInTheFileAndTheRecord()
{
    FakeBench bench;
    bench.state()->supplyCurrent = [](qint64 n) {
        return n == 1   ? QString()
               : n == 2 ? QStringLiteral("+9.9E37\n")
                        : QStringLiteral("+0.02\n");
    };
    bench.state()->strayAfterMeasurement = {3};
    RunSetup run = setup(bench);
    run.parameters = {"4", "0", "2", "0"};
    run.supply = supplyPlan(true);
    RunEngine engine(run);
    int supplyCells = 0;
    connect(&engine, &RunEngine::supplyCurrentWritten, this, [&] { ++supplyCells; });
    QSignalSpy faults(&engine, &RunEngine::faultNoticed);
    const RunOutcome outcome = runToEnd(engine);
    QCOMPARE(outcome.status, RunOutcome::Finished);
    QCOMPARE(outcome.supplyNotMeasured, 3);
    QVERIFY2(outcome.summary().contains("3 supply currents that are not a measurement"),
             qPrintable(outcome.summary()));
    QCOMPARE(faults.size(), 4); // two for the stray: disowned, then not a measurement

    const QStringList timeline = bench.state()->timeline;
    QCOMPARE(bench.supplyLines().mid(0, 6),
             QStringList({"connect FAKE::PWR", "levels 2 3.3 0.05", "SYST:ERR?", "output 2 on",
                          "output? 2", "SYST:ERR?"}));
    QVERIFY(timeline.indexOf("supply output 2 on") < timeline.indexOf("board 1"));
    QVERIFY(timeline.lastIndexOf("supply output 2 off") > timeline.lastIndexOf("meter Read?"));

    QStringList supplyColumn;
    for (const QStringList &row : rows(outcome.resultFile)) {
        QCOMPARE(row.size(), 5);
        supplyColumn << row[4];
    }
    QCOMPARE(supplyColumn, QStringList({"ERR", "+9.9E37", "ERR", "+0.02"}));
    QCOMPARE(supplyCells, 4);

    const std::optional<RunRecord> record = RunRecord::readBeside(outcome.resultFile);
    QVERIFY(record && record->supply);
    QCOMPARE(record->supply->identity, QStringLiteral("FAKE,PWR,1,1.0"));
    QCOMPARE(record->outcome.supplyNotMeasured, 3);
}

void tst_EnginePlan::supplyOutput_offWhateverEndsTheRun_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("the run finishes") << "finish";
    QTest::newRow("stopped mid-step") << "stop";
    QTest::newRow("stopped between the output on and the first step") << "stop at once";
    QTest::newRow("the engine destroyed while running") << "destroy";
    QTest::newRow("the output does not go off") << "stuck";
}

// However the run ends, the output the run switched on goes off and the
// supply's session closes; an output that stays on makes the run not clean.
void tst_EnginePlan::supplyOutput_offWhateverEndsTheRun()
{
    QFETCH(QString, ending);
    FakeBench bench;
    bench.state()->outputSwitchesOff = ending != "stuck";
    RunSetup run = setup(bench);
    run.parameters = {"20", "0", "2", "0"};
    run.nextStepMs = 20; // still running when the test reaches in
    run.supply = supplyPlan(false);
    auto engine = std::make_unique<RunEngine>(run);
    QSignalSpy ended(engine.get(), &RunEngine::runEnded);
    qint64 stepsDone = 0;
    connect(engine.get(), &RunEngine::stepFinished, this, [&](qint64 step) { stepsDone = step; });
    connect(engine.get(), &RunEngine::readingTaken, this, [&](qint64 step, qint64 index) {
        if (step == 4 && index == 1 && ending == "stop")
            engine->stop(); // from inside its own signal, as the window's Stop can
    });
    bool outputOnAtFirstStep = false;
    connect(engine.get(), &RunEngine::valueSent, this,
            [&] { outputOnAtFirstStep = outputOnAtFirstStep || bench.state()->outputOn; });
    engine->start();
    QVERIFY(bench.state()->outputOn);
    if (ending == "stop at once")
        engine->stop();
    if (ending == "destroy") {
        QTRY_VERIFY_WITH_TIMEOUT(stepsDone >= 3, 5000);
        QVERIFY(engine->isRunning());
        engine.reset();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!engine || !ended.isEmpty(), 5000);
    const bool leftOn = engine && engine->outcome().supplyLeftOn;
    if (engine)
        engine->stop();

    QCOMPARE(bench.state()->outputOn, ending == "stuck");
    QCOMPARE(bench.supplyLines().filter("output 2 on").size(), 1);
    QVERIFY(bench.supplyLines().contains("output 2 off"));
    QCOMPARE(bench.state()->supplyCloses, 1);
    QCOMPARE(leftOn, ending == "stuck");
    QCOMPARE(outputOnAtFirstStep, ending != "stop at once");
    if (ending == "destroy")
        return; // the record of a run destroyed mid-way is the issue of whoever destroyed it
    const std::optional<RunRecord> record = RunRecord::readBeside(folder->filePath(
        "results/" + QDir(folder->filePath("results")).entryList({"*.txt"}).value(0)));
    QVERIFY(record);
    QCOMPARE(record->outcome.status, ending.startsWith("stop") ? "stopped" : "finished");
    QCOMPARE(record->outcome.supplyLeftOn, ending == "stuck");
    QCOMPARE(record->outcome.clean, ending == "finish");
}

void tst_EnginePlan::refusedBeforeAnyFile_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("failure"); // empty: the run goes ahead
    const QString meter = QStringLiteral("the multimeter at FAKE::INSTR ");
    QTest::newRow("the meter's expected identity") << "" << QString();
    QTest::newRow("meter silent") << "silent" << meter + "does not answer";
    QTest::newRow("meter silent, by choice") << "silent optional" << QString();
    QTest::newRow("another meter, by choice")
        << "other optional"
        << meter + "answers \"FAKE,DMM,1,1.0\", not the expected identity '^Other'";
    QTest::newRow("supply settings refused")
        << "supply"
        << "the supply at FAKE::PWR refused its set-up: -222,\"Data out of range\" "
           "(output 2 at 3.3 V, 0.05 A)";
    QTest::newRow("board cannot be opened") << "board"
                                            << "cannot open serial port fake: refused";
}

// The meter's checks, the board and the supply's set-up come before the file:
// a refusal leaves no file, sends no value, and never switches the output on
// (the meter's refusal does not touch the supply at all). A meter that may be
// missing lets the run go ahead, not clean.
void tst_EnginePlan::refusedBeforeAnyFile()
{
    QFETCH(QString, fault);
    QFETCH(QString, failure);
    FakeBench bench;
    bench.state()->meterAnswers = !fault.startsWith("silent");
    bench.state()->boardOpens = fault != "board";
    if (fault == "supply")
        bench.state()->supplyErrors = {"-222,\"Data out of range\"\n"};
    // The queue's answer first, the readings after it.
    bench.state()->reply = [](qint64 n) {
        return n == 1 ? QStringLiteral("+0,\"No error\"\n") : QStringLiteral("+1.0E-03\n");
    };
    RunSetup run = setup(bench);
    run.checkInstruments = true;
    run.expectIdn = fault.isEmpty() ? "^FAKE,DMM," : fault.startsWith("other") ? "^Other" : "";
    run.meterOptional = fault.endsWith("optional");
    run.failWithoutBoard = true;
    run.supply = supplyPlan(true);
    RunEngine engine(run);
    const RunOutcome outcome = runToEnd(engine);
    if (failure.isEmpty()) {
        QCOMPARE(outcome.status, RunOutcome::Finished);
        QCOMPARE(outcome.isClean(), bench.state()->meterAnswers);
        QCOMPARE(bench.state()->commands.count("SYST:ERR?"), bench.state()->meterAnswers ? 1 : 0);
        return;
    }
    QCOMPARE(outcome.status, RunOutcome::Failed);
    QCOMPARE(outcome.failure, failure);
    QVERIFY(outcome.resultFile.isEmpty());
    QCOMPARE(folderEntries(), QStringList());
    QCOMPARE(bench.state()->valuesSent, QList<qint32>());
    QVERIFY(!bench.supplyLines().contains("output 2 on") && !bench.state()->outputOn);
    if (fault != "supply" && fault != "board")
        QCOMPARE(bench.supplyLines(), QStringList());
}

QTEST_GUILESS_MAIN(tst_EnginePlan)
#include "tst_engineplan.moc"
