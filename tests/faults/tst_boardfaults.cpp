// The link to the board fails: the port vanishes mid-run, another program
// holds it, or none was chosen. The meter's readings must still all be kept.
#include "ResultFile.h"
#include "SimulatedBench.h"
#include "WindowDriver.h"

#include <QProcess>
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
    void noPortChosen_data();
    void noPortChosen();

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
    const int sentBefore = int(bench.boardValues().size());
    checkRun(run, QStringLiteral("UART: Send Failed ["));
    // Every value after the loss is reported at its own send.
    QCOMPARE(run.logCount(QStringLiteral("UART: Send Failed [")),
             run.logCount(QStringLiteral("TestThread: UART Send DAC: ")) - sentBefore);
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

void tst_BoardFaults::noPortChosen_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("failure");
    QTest::newRow("serial box unticked") << false << "UART: OpenFailed";
    QTest::newRow("serial box ticked, port list empty") << true << "UI ERROR: COM Port NOT Found!";
}

void tst_BoardFaults::noPortChosen()
{
    QFETCH(bool, ticked);
    QFETCH(QString, failure);
    SimulatedBench bench;
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    WindowDriver run(bench);
    run.setPort(QString(), ticked);
    run.setParams({"20", "20", "1", "0"});
    run.clickStart();
    checkRun(run, failure);
    QVERIFY(run.logLine(QStringLiteral("UART: OpenFailed")).size() > 0);
    QVERIFY(bench.boardValues().isEmpty());
}

QTEST_MAIN(tst_BoardFaults)
#include "tst_boardfaults.moc"
