// The lab's 16-bit plan (docs/examples/dac16-updown.ini: every 64th code and
// the top one, up and back down, NPLC 1 on the 1 V range) carried out on the
// simulated bench, and benchtest-report's hysteresis of its file checked
// against up minus down worked out here from the rows. The whole sweep runs
// on the engine the runner configures, with the engine's own waits cut short
// (2049 steps of 100 ms would take minutes).
#include "context/TestContext.h"
#include "engine/RunEngine.h"
#include "plan/PlanFile.h"
#include "tests/support/ContextReset.h"
#include "tests/support/SimulatorProcess.h"
#include "tools/runner/RunnerPlan.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>

namespace {

const QString kExample = QStringLiteral(BENCHTEST_SOURCE_DIR "/docs/examples/dac16-updown.ini");

// A 16-bit DAC of 1 V full scale, with a bow and some noise.
const QStringList kDac{"--board", "--gain",  "0.0000152", "--full-scale", "65536", "--bow",
                       "0.0003",  "--noise", "0.00002",   "--seed",       "7"};

struct Hysteresis
{
    qint64 codes = 0;
    double max = 0;
    qint64 maxCode = 0;
};

// Up minus down per code from the rows alone: the first visit of a code went
// up, the second came down; a code visited once (the top) counts for neither.
Hysteresis fromRows(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::map<qint64, QList<double>> visits; // code: mean of each visit, in order
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> cells = line.split('\t');
        bool isRow = false;
        cells.value(0).toLongLong(&isRow);
        if (!isRow || cells.size() < 4)
            continue;
        visits[cells[1].toLongLong()] << (cells[2].toDouble() + cells[3].toDouble()) / 2;
    }
    Hysteresis result;
    for (const auto &[code, means] : visits) {
        if (means.size() != 2)
            continue;
        result.codes += 1;
        const double difference = means[0] - means[1];
        if (std::fabs(difference) > std::fabs(result.max)) {
            result.max = difference;
            result.maxCode = code;
        }
    }
    return result;
}

// benchtest-report's JSON of one file: its first report.
QJsonObject report(const QString &resultFile, const QString &folder)
{
    QProcess process;
    process.start(QStringLiteral(BENCHTEST_REPORT),
                  {"--plots", "none", "--output-dir", folder, resultFile});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    QFile json(folder + QStringLiteral("/report.json"));
    if (!json.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(json.readAll())["reports"][0].toObject();
}

// The example plan with the bench's addresses and `overrides` laid over it
// as the command line would.
RunPlan examplePlan(const SimulatorProcess &sim, const QString &meterKey,
                    const PlanSettings &overrides, QString *error)
{
    PlanSettings settings;
    RunPlan plan;
    if (!PlanFile::read(kExample, &settings, error))
        return plan;
    PlanSettings bench = overrides;
    bench.meterResource.set(sim.address(meterKey), "test");
    bench.serialPort.set(sim.address("board"), "test");
    bench.supplyResource.set(sim.address("pwr"), "test");
    bench.expectIdn.set(QStringLiteral("^BenchSim,34461A,"), "test");
    settings.override(bench);
    if (!RunPlan::resolve(settings, &plan, error))
        return RunPlan();
    return plan;
}

} // namespace

class tst_PlannedSweep : public QObject
{
    Q_OBJECT

private slots:
    void sixteenBitUpAndDown_reportShowsTheHysteresis();

private:
    QTemporaryDir work;
};

void tst_PlannedSweep::sixteenBitUpAndDown_reportShowsTheHysteresis()
{
    resetTestContext();
    SimulatorProcess sim;
    QVERIFY2(sim.start(kDac), qPrintable(sim.error()));
    PlanSettings overrides;
    overrides.settleMs.set(0, "test");
    QString error;
    // HiSLIP pairs each reading with its query at once: no wait for quiet on the link.
    const RunPlan plan = examplePlan(sim, "dmm-hislip", overrides, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(plan.sweep.count(), 2049);

    // The engine as the runner sets it up for this plan.
    QTemporaryDir results;
    RunSetup run;
    RunnerPlan::configureEngine(plan, false, &run);
    run.parameters = {QString::number(plan.sweep.count()), QString::number(plan.settleMs),
                      QString::number(plan.readingsPerStep),
                      QString::number(plan.readingIntervalMs)};
    run.testName = run.kind->title;
    run.testItem = plan.item;
    run.tester = plan.tester;
    run.folder = results.path();
    run.meterAddress = plan.meterResource;
    TestContext.uart.port.setPortName(plan.serialPort);
    run.serial = &TestContext.uart;
    run.failWithoutBoard = true;
    run.firstSendMs = 0;
    run.nextStepMs = 0;
    RunEngine engine(run);
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    engine.start();
    QVERIFY(ended.count() == 1 || ended.wait(120000));
    const RunOutcome outcome = ended.at(0).at(0).value<RunOutcome>();
    engine.stop();
    QVERIFY2(outcome.isClean(), qPrintable(outcome.summary() + outcome.failure));
    QCOMPARE(outcome.stepsDone, 2049);

    const QStringList meter = sim.transcript("dmm");
    for (const char *command :
         {"VOLT:DC:NPLC 1\\n", "VOLT:DC:ZERO:AUTO ON\\n", "VOLT:DC:RANG 1\\n", "SYST:ERR?\\n"})
        QVERIFY2(meter.contains(command), command);

    const Hysteresis expected = fromRows(outcome.resultFile);
    QCOMPARE(expected.codes, 1024); // every 64th code both ways; 65535, the turn, once
    const QJsonObject analysed = report(outcome.resultFile, work.filePath("report16"));
    QVERIFY(!analysed.isEmpty());
    // The supply's column is no reading.
    QCOMPARE(analysed["runs"][0]["readingColumns"].toInt(), 2);
    const QJsonObject hysteresis = analysed["hysteresis"].toObject();
    QCOMPARE(hysteresis["codes"].toInteger(), expected.codes);
    QCOMPARE(hysteresis["max"]["code"].toInteger(), expected.maxCode);
    QVERIFY2(std::fabs(hysteresis["max"]["value"].toDouble() - expected.max) < 1e-12,
             qPrintable(QString::number(hysteresis["max"]["value"].toDouble())));
    QVERIFY(expected.max != 0);
}

QTEST_GUILESS_MAIN(tst_PlannedSweep)
#include "tst_plannedsweep.moc"
