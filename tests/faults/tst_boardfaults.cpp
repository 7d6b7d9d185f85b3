// The link to the board fails: the port vanishes mid-run or another program
// holds it. The meter's readings must still all be kept. (A port never chosen
// is tst_runcontrol's, its open failure tst_uart's.)
#include "context/TestContext.h"
#include "engine/RunEngine.h"
#include "tests/faults/ResultFile.h"
#include "tests/support/ContextReset.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/WindowDriver.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kNormal = QStringLiteral("+1.23456789E+00");

int rowsIn(const WindowDriver &run)
{
    return int(ResultFile::parse(run.resultBytes()).rows.size());
}

} // namespace

class tst_BoardFaults : public QObject
{
    Q_OBJECT

private slots:
    void portVanishesMidRun();
    void portHeldByAnotherProgram();
    void boardAndMeterComeBack();

private:
    // Steps, readings and the stop: shared by every case.
    void checkRun(WindowDriver &run, const QString &failure);
};

void tst_BoardFaults::checkRun(WindowDriver &run, const QString &failure)
{
    QVERIFY2(WindowDriver::waitUntil([&] { return rowsIn(run) >= 5 || run.isIdle(); }, 10000),
             "the run stalled");
    QVERIFY2(!run.isIdle(), "the run ended before the operator stopped it");
    QVERIFY(run.stopAndStayStopped());

    const ResultFile file = ResultFile::parse(run.resultBytes());
    QVERIFY(file.stray.isEmpty());
    QVERIFY(file.rows.size() >= 5);
    for (int i = 0; i < file.rows.size(); ++i)
        QCOMPARE(file.rows[i].mid(0, 2),
                 QStringList({QString::number(i + 1), QString::number(i + 1)}));
    // The meter is fine: every reading taken is in the file as it was sent.
    QCOMPARE(file.readings().count(kNormal), file.readings().size());
    QVERIFY(file.readings().size() >= 4);

    const QString named = run.logLine(failure);
    QVERIFY2(!named.isEmpty(), qPrintable(run.log().lines().join('\n')));
}

void tst_BoardFaults::portVanishesMidRun()
{
    SimulatedBench bench;
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    WindowDriver run(bench);
    run.setParams({"20", "20", "1", "0"});
    run.clickStart();
    QTRY_VERIFY_WITH_TIMEOUT(bench.boardValues().size() >= 2, 5000);
    bench.stopBoard();
    checkRun(run, QStringLiteral("UART: Send Failed ["));
    // Every value from the first that failed on is reported at its own send.
    // (A frame the port took while the board was dying is lost unseen: the
    // loss shows only at the next write, so the count starts at the failure.)
    const QStringList lines = run.log().lines();
    int sendsSinceLoss = 0;
    int failures = 0;
    for (const QString &line : lines) {
        if (line.contains(QStringLiteral("TestThread: UART Send DAC: ")))
            sendsSinceLoss = failures > 0 ? sendsSinceLoss + 1 : 1;
        if (line.contains(QStringLiteral("UART: Send Failed [")))
            ++failures;
    }
    QVERIFY(failures > 0);
    QCOMPARE(failures, sendsSinceLoss);
}

void tst_BoardFaults::portHeldByAnotherProgram()
{
    SimulatedBench bench;
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    QProcess holder;
    holder.start(QStringLiteral(PORTHOLDER_PROGRAM), {bench.boardPath()});
    QVERIFY(holder.waitForReadyRead(5000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

    WindowDriver run(bench);
    run.setParams({"20", "20", "1", "0"});
    run.clickStart();
    checkRun(run, QStringLiteral("UART: OpenFailed"));
    QVERIFY(bench.boardValues().isEmpty());
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(3000));
}

// The board's adapter and the meter go away after value 3 and are back at
// the same device and address from value 6 on: the port is opened again, the
// meter reconnected (same identity, its set-up sent again), and the values
// and readings in between are counted as lost, never filled with others.
void tst_BoardFaults::boardAndMeterComeBack()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board"));
    const QString meterPort = QString::number(closedLoopbackPort());
    const QStringList meterOptions{"--dmm", "--dmm-port", meterPort};
    SimulatorProcess board(SimulatorProcess::Program::Board);
    SimulatorProcess meter;
    QVERIFY2(board.start({"--link", link}), qPrintable(board.error()));
    QVERIFY2(meter.start(meterOptions), qPrintable(meter.error()));
    SimulatorProcess secondBoard(SimulatorProcess::Program::Board);
    SimulatorProcess secondMeter;

    resetTestContext();
    TestContext.uart.port.setPortName(link);
    RunSetup setup;
    setup.parameters = {"12", "0", "1", "0"};
    setup.folder = dir.path();
    setup.meterAddress = meter.address(QStringLiteral("dmm"));
    setup.serial = &TestContext.uart;
    RunEngine engine(setup);
    QStringList cells;
    connect(&engine, &RunEngine::readingTaken, this,
            [&](qint64, qint64, const QString &cell) { cells << cell; });
    connect(&engine, &RunEngine::valueSent, this, [&](qint64 step) {
        if (step == 3) {
            board.stop();
            meter.stop();
        } else if (step == 5) {
            QVERIFY(secondBoard.start({"--link", link}));
            QVERIFY(secondMeter.start(meterOptions));
        }
    });
    QSignalSpy ended(&engine, &RunEngine::runEnded);
    LogCapture log;
    engine.start();
    QVERIFY(ended.wait(30000));
    const RunOutcome outcome = ended.at(0).at(0).value<RunOutcome>();
    engine.stop();

    QCOMPARE(outcome.status, RunOutcome::Finished);
    QCOMPARE(outcome.stepsDone, 12);
    QVERIFY(!outcome.isClean());
    QVERIFY(outcome.framesNotSent >= 1 && outcome.framesNotSent <= 2); // values 4 and 5
    QVERIFY(outcome.errCells >= 1);
    QCOMPARE(log.lines().filter("UART: Reopened [").size(), 1);
    QCOMPARE(log.lines().filter("DMM_34461A: Reconnected [BenchSim,34461A,").size(), 1);
    // From the return on, every value reaches the new board and every reading is the meter's.
    QTRY_COMPARE(secondBoard.transcript().filter(QStringLiteral("value 12")).size(), 1);
    QVERIFY(secondBoard.transcript().size() >= 6);
    QCOMPARE(cells.mid(6), QStringList(QList<QString>(6, "+1.23456789E+00")));
    QCOMPARE(cells.mid(0, 2), QStringList(QList<QString>(2, "+1.23456789E+00")));
    QVERIFY(secondMeter.transcript(QStringLiteral("dmm")).contains("CONF:VOLT:DC\\n"));
}

QTEST_MAIN(tst_BoardFaults)
#include "tst_boardfaults.moc"
