// The operator does what the run does not expect: presses Start twice, stops
// during the start wait, hammers single step, switches tests between runs.
#include "app/MainWindow.h"
#include "tests/faults/ResultFile.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/WindowDriver.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

const QString kInit = QStringLiteral("\"TestThread: Init Test Enviroment\"");
const QString kMeasured = QStringLiteral("TestThread: DMM Measure: ");
const QString kSent = QStringLiteral("TestThread: UART Send ");

} // namespace

class tst_OperatorFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startStopStart();
    void singleStepHammeredDuringAWait();

private:
    SimulatedBench bench;
    WindowDriver *run = nullptr;
};

void tst_OperatorFaults::initTestCase()
{
    QVERIFY2(bench.start(), qPrintable(bench.error()));
}

void tst_OperatorFaults::init()
{
    bench.clearTranscripts();
    run = new WindowDriver(bench);
}

void tst_OperatorFaults::cleanup()
{
    delete run;
    run = nullptr;
}

// Three clicks in a row: start, stop, start; then a stop in the second start
// wait. Neither run sends a value, asks for a reading or ends its file.
void tst_OperatorFaults::startStopStart()
{
    run->setParams({"3", "10", "1", "0"});
    for (int i = 0; i < 3; ++i)
        run->clickStart();
    QCOMPARE(run->starts(), 2);
    QCOMPARE(run->stops(), 1);
    QVERIFY(!run->isIdle());
    QVERIFY(run->stopAndStayStopped(700)); // past the start wait: no step fires
    QVERIFY(bench.boardValues().isEmpty());
    QCOMPARE(bench.meterLines().count(QStringLiteral("Read?\\n")), 0);
    QCOMPARE(run->logCount(kSent), 0);
    // One head block and heading per start, no row. Runs started within one
    // second share a file, so count over the folder: a loaded machine may
    // spread the clicks over two seconds.
    int headings = 0;
    const QDir folder(run->resultsFolder());
    for (const QString &name : folder.entryList({QStringLiteral("*.txt")}, QDir::Files)) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        headings += int(bytes.count("\nNo.\tDAC\tDMM1\n"));
        const ResultFile parsed = ResultFile::parse(bytes);
        QVERIFY(parsed.rows.isEmpty() && !parsed.finished);
    }
    QCOMPARE(headings, run->starts());

    // The window is ready for the next run, which runs whole (into a file of
    // its own: runs started within one second share a name).
    run->setText("filename", QStringLiteral("NEXT"));
    run->clickStart();
    QVERIFY(run->waitIdle(5000));
    QCOMPARE(ResultFile::parse(run->resultBytes()).rows.size(), 3);
    QCOMPARE(run->logCount(kInit), run->starts());
}

void tst_OperatorFaults::singleStepHammeredDuringAWait()
{
    run->setParams({"2", "10", "2", "10"});
    run->clickSingleStep(); // single-step mode; the first send comes by itself after 500 ms
    for (int i = 0; i < 20; ++i)
        run->clickSingleStep();
    // Each press starts the 100 ms wait afresh: one phase follows, once.
    QTRY_COMPARE_WITH_TIMEOUT(run->logCount(kSent), 1, 5000);
    QTest::qWait(300);
    QCOMPARE(run->logCount(kSent), 1);
    QCOMPARE(run->logCount(kMeasured), 0);

    for (int i = 0; i < 20; ++i)
        run->clickSingleStep();
    QTRY_COMPARE_WITH_TIMEOUT(run->logCount(kMeasured), 1, 5000);
    QTest::qWait(300);
    QCOMPARE(run->logCount(kMeasured), 1);
    QCOMPARE(run->logCount(kSent), 1);
    QCOMPARE(run->logCount(QStringLiteral("TestThread: Single Step")), 40);
    QVERIFY(run->stopAndStayStopped());

    const ResultFile file = ResultFile::parse(run->resultBytes());
    QVERIFY(file.stray.isEmpty());
    QCOMPARE(file.rows.size(), 1);
    QCOMPARE(file.readings().size(), 1);
    QTRY_COMPARE(bench.boardValues(), QList<qint32>{1});
}

QTEST_MAIN(tst_OperatorFaults)
#include "tst_operatorfaults.moc"
