// What a run puts on disk and what it claims, against a bench in memory and
// a disk that fails on demand: every cell its own query's reply or ERR,
// readings that are no measurement counted, every failed write, sync,
// rename or close named in the outcome, and no record claiming more than
// the files hold.
#include "context/TestContext.h"
#include "engine/RunEngine.h"
#include "record/RunRecord.h"
#include "tests/support/ContextReset.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/FailingFileSystem.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The complete rows of a result file (those with their line end), by step.
QMultiMap<int, QString> completeRows(const QByteArray &bytes)
{
    QMultiMap<int, QString> rows;
    const QList<QByteArray> lines = bytes.split('\n');
    // The last element follows the last line end: an open row, or nothing.
    for (qsizetype i = 6; i + 1 < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i));
        bool isStep = false;
        const int step = line.section(QLatin1Char('\t'), 0, 0).toInt(&isStep);
        if (isStep)
            rows.insert(step, line);
    }
    return rows;
}

} // namespace

class tst_RunIntegrity : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readingsThatAreNoMeasurement_areCountedAndKept_data();
    void readingsThatAreNoMeasurement_areCountedAndKept();
    void strayAfterAReading_makesItsCellErr_data();
    void strayAfterAReading_makesItsCellErr();
    void everyDiskFailure_isNamedAndClaimsNothingMissing();

private:
    RunSetup setup(const std::array<QString, 4> &parameters, FileSystemCalls *disk = nullptr);

    FakeBench bench;
    QTemporaryDir *folder = nullptr;
};

void tst_RunIntegrity::init()
{
    resetTestContext();
    bench = FakeBench();
    folder = new QTemporaryDir;
}

void tst_RunIntegrity::cleanup()
{
    delete folder;
    folder = nullptr;
}

RunSetup tst_RunIntegrity::setup(const std::array<QString, 4> &parameters, FileSystemCalls *disk)
{
    RunSetup run = fakeBenchRun(bench, folder->path(), disk);
    run.parameters = parameters;
    return run;
}

// The overload marker, INF, NAN and text that is no number go into the file
// as the meter sent them; the run counts them and is not clean. A number
// makes a clean run, which closes its meter once.
void tst_RunIntegrity::readingsThatAreNoMeasurement_areCountedAndKept_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("measurement");
    QTest::newRow("overload") << "+9.9E37" << false;
    QTest::newRow("SCPI not-a-number") << "9.91E37" << false;
    QTest::newRow("NAN") << "NAN" << false;
    QTest::newRow("text") << "Unknow command" << false;
    QTest::newRow("two numbers") << "+1.0E-03,+2.0E-03" << false;
    QTest::newRow("just below the marker") << "+9.8E37" << true;
    QTest::newRow("plain decimal") << "-0.5" << true;
}

void tst_RunIntegrity::readingsThatAreNoMeasurement_areCountedAndKept()
{
    QFETCH(QString, reply);
    QFETCH(bool, measurement);
    bench.state()->reply = [reply](qint64 query) {
        return query == 2 ? reply + QLatin1Char('\n') : QStringLiteral("+1.0E-03\n");
    };
    RunEngine engine(setup({"1", "0", "3", "0"}));
    const RunOutcome outcome = runToEnd(engine);
    QCOMPARE(outcome.status, RunOutcome::Finished);
    QCOMPARE(outcome.notMeasurements, measurement ? 0 : 1);
    QCOMPARE(outcome.isClean(), measurement);
    QCOMPARE(fileBytes(outcome.resultFile).split('\n').value(6),
             ("1\t1\t+1.0E-03\t" + reply + "\t+1.0E-03").toUtf8());
    const std::optional<RunRecord> record = RunRecord::readBeside(outcome.resultFile);
    QVERIFY(record);
    QCOMPARE(record->outcome.notMeasurements, outcome.notMeasurements);
    QCOMPARE(bench.state()->meterCloses, 1);
    if (!measurement)
        QVERIFY(
            outcome.summary().contains(QStringLiteral("1 readings that are not a measurement")));
}

// A reply that no query asked for, seen when the link is next looked at,
// casts doubt on the reading before it: that cell is ERR, the others are the
// meter's, wherever in the run the stray comes.
void tst_RunIntegrity::strayAfterAReading_makesItsCellErr_data()
{
    QTest::addColumn<int>("after");
    QTest::addColumn<QString>("stopAfter"); // "": the run ends by itself
    QTest::newRow("mid-row, seen by the next query") << 2 << "";
    QTest::newRow("end of a row, seen at the next step") << 3 << "";
    QTest::newRow("last reading, seen at the end") << 6 << "";
    QTest::newRow("first reading, run stopped right after") << 1 << "reading";
}

void tst_RunIntegrity::strayAfterAReading_makesItsCellErr()
{
    QFETCH(int, after);
    QFETCH(QString, stopAfter);
    bench.state()->strayAfterReply = {after};
    RunEngine engine(setup({"2", "0", "3", "0"}));
    if (!stopAfter.isEmpty())
        connect(&engine, &RunEngine::readingTaken, &engine, [&engine] { engine.stop(); });
    QSignalSpy faults(&engine, &RunEngine::faultNoticed);
    const RunOutcome outcome = runToEnd(engine);

    QCOMPARE(outcome.errCells, 1);
    QVERIFY(!outcome.isClean());
    QCOMPARE(faults.size(), 1);
    const QList<QByteArray> lines = fileBytes(outcome.resultFile).split('\n');
    QStringList cells;
    for (const QByteArray &row : lines.mid(6, stopAfter.isEmpty() ? 2 : 1))
        cells += QString::fromUtf8(row).split(QLatin1Char('\t')).mid(2);
    for (int reading = 1; reading <= cells.size(); ++reading)
        QCOMPARE(cells.at(reading - 1),
                 reading == after ? QStringLiteral("ERR")
                                  : QStringLiteral("+%1E-03").arg(double(reading), 0, 'f', 4));
}

// The n-th write, sync, rename or close of a run fails, for every n up to the
// last of a short run. After each: what is on disk is right or visibly
// incomplete, no record claims what the files do not hold, and a run that
// lost anything says so.
void tst_RunIntegrity::everyDiskFailure_isNamedAndClaimsNothingMissing()
{
    const std::array<QString, 4> parameters = {"2", "0", "2", "0"};
    FailingFileSystem counting;
    RunEngine reference(setup(parameters, &counting));
    const RunOutcome clean = runToEnd(reference);
    QVERIFY(clean.isClean());
    const QByteArray cleanFile = fileBytes(clean.resultFile);
    const QMultiMap<int, QString> cleanRows = completeRows(cleanFile);
    const qint64 operations = counting.operations();
    QVERIFY2(operations > 20, qPrintable(QString::number(operations)));

    for (qint64 n = 1; n <= operations; ++n) {
        cleanup();
        init();
        FailingFileSystem disk(n);
        RunEngine engine(setup(parameters, &disk));
        LogCapture quiet; // the failures are logged; they are expected here
        const RunOutcome outcome = runToEnd(engine);
        const QString where =
            QStringLiteral("n=%1 (%2): %3").arg(n).arg(disk.failed(), outcome.summary());
        QVERIFY2(!disk.failed().isEmpty(), qPrintable(where));
        QCOMPARE(outcome.status, RunOutcome::Finished);

        const QByteArray inFile = fileBytes(outcome.resultFile);
        const QByteArray inRecovery =
            outcome.recoveryFile.isEmpty() ? QByteArray() : fileBytes(outcome.recoveryFile);
        if (outcome.isClean()) {
            // Only a spare's release may fail without a trace.
            QVERIFY2(inFile == cleanFile && outcome.recoveryFile.isEmpty(), qPrintable(where));
        } else {
            QVERIFY2(!outcome.summary().isEmpty(), qPrintable(where));
        }

        // Every complete row, in either file, is the row the meter gave; no
        // step twice in one file; together every step once unless the run
        // says pieces were lost.
        const QMultiMap<int, QString> rows = completeRows(inFile);
        const QMultiMap<int, QString> recovered = completeRows(inRecovery);
        for (const QMultiMap<int, QString> *file : {&rows, &recovered}) {
            for (auto row = file->cbegin(); row != file->cend(); ++row) {
                QVERIFY2(row.value() == cleanRows.value(row.key()), qPrintable(where));
                QVERIFY2(file->count(row.key()) == 1, qPrintable(where));
            }
        }
        if (outcome.piecesNotWritten == 0) {
            for (int step = 1; step <= 2; ++step)
                QVERIFY2(rows.contains(step) || recovered.contains(step), qPrintable(where));
        }

        // The record where the run ended up: ended, and claiming no more
        // than is there; a record that could not be written is named.
        const std::optional<RunRecord> record = RunRecord::readBeside(
            outcome.recoveryFile.isEmpty() ? outcome.resultFile : outcome.recoveryFile);
        if (!record || !record->hasEnded()) {
            QVERIFY2(outcome.recordWritesFailed > 0, qPrintable(where));
            continue;
        }
        QVERIFY2(record->runId == outcome.runId, qPrintable(where));
        QVERIFY2(record->outcome.clean == outcome.isClean() || outcome.recordWritesFailed > 0,
                 qPrintable(where));
        if (record->outcome.clean)
            QVERIFY2(inFile == cleanFile, qPrintable(where));
        QVERIFY2(record->outcome.piecesNotWritten == outcome.piecesNotWritten, qPrintable(where));
    }
}

QTEST_GUILESS_MAIN(tst_RunIntegrity)
#include "tst_runintegrity.moc"
