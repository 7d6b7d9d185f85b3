// The window while its meter stalls: the run waits on a thread of its own,
// so the window repaints, Stop takes effect and closing the window ends the
// run with its record finished, all within a moment of the operator's act.

#include "app/MainWindow.h"
#include "context/TestContext.h"
#include "record/RunRecord.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/WindowDriver.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

namespace {

// A meter that answers its identity at once and then thinks for 6 s about
// the first reading: far past the driver's 2 s I/O timeout.
constexpr int kStallMs = 6000;
// What the operator may wait for the window while the meter stalls.
constexpr int kResponseMs = 200;
// What the stopped run may take to put its file and record on disk: well
// short of the read's 2 s timeout, which a stop that did not cut the wait
// short would have to sit out.
constexpr int kRecordedMs = 1500;

void stallAtTheFirstReading(ScriptedPeer &peer)
{
    peer.awaitText("*IDN?\n").send("BenchSim,34461A,SIM0009,A.02.14\n");
    peer.awaitText("Read?\n").pause(kStallMs).send("+1.00000000E+00\n");
    peer.start();
}

// Counts the paint events a widget gets.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

class tst_MeterStall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(bench.start(), qPrintable(bench.error())); }
    void windowRepaintsAndStops();
    void closingTheWindowEndsTheRecord();

private:
    // Starts a three-step run against a meter that stalls and returns once the
    // first reading is on its way: from then on the meter keeps the run waiting.
    void startIntoTheStall(WindowDriver &run, ScriptedPeer &peer);

    SimulatedBench bench;
};

void tst_MeterStall::startIntoTheStall(WindowDriver &run, ScriptedPeer &peer)
{
    stallAtTheFirstReading(peer);
    run.setMeter(peer.socketResource());
    run.setParams({"3", "0", "1", "0"});
    run.window()->show();
    run.clickStart();
    QVERIFY(WindowDriver::waitUntil([&] { return peer.received().contains("Read?\n"); }, 10000));
}

void tst_MeterStall::windowRepaintsAndStops()
{
    WindowDriver run(bench);
    ScriptedPeer peer;
    startIntoTheStall(run, peer);
    QVERIFY(!QTest::currentTestFailed());

    // A second into the stall, a repaint asked for arrives promptly, again and again.
    auto *status = run.window()->findChild<QLabel *>(QStringLiteral("Status"));
    QVERIFY(status);
    PaintCounter counter;
    status->installEventFilter(&counter);
    QElapsedTimer stalled;
    stalled.start();
    while (stalled.elapsed() < 1000) {
        const int before = counter.paints;
        QElapsedTimer asked;
        asked.start();
        status->update();
        QVERIFY2(WindowDriver::waitUntil([&] { return counter.paints > before; }, kResponseMs),
                 qPrintable(QStringLiteral("no repaint within %1 ms").arg(asked.elapsed())));
        QTest::qWait(50);
    }

    // Stop: the window is idle at once and the run's record says stopped,
    // long before the meter would have answered or the read timed out (2 s,
    // then 10 s of waiting for the meter to come back in step).
    QElapsedTimer stopping;
    stopping.start();
    QVERIFY(run.stopAndStayStopped(0));
    QVERIFY(run.isIdle());
    const QString file = TestContext.resultFilePath;
    QVERIFY(!file.isEmpty());
    QVERIFY(WindowDriver::waitUntil(
        [&] {
            const std::optional<RunRecord> record = RunRecord::readBeside(file);
            return record && record->outcome.status == QLatin1String("stopped");
        },
        kRecordedMs));
    qInfo("stopped and recorded after %lld ms", stopping.elapsed());
    const std::optional<RunRecord> record = RunRecord::readBeside(file);
    QCOMPARE(record->outcome.stoppedBy, QStringLiteral("the operator"));
    QCOMPARE(record->outcome.stepsDone, 0);
    // No step followed the stop, though the meter answers later.
    QVERIFY(run.stopAndStayStopped(300));
    QCOMPARE(bench.boardValues(), QList<qint32>({1}));
}

void tst_MeterStall::closingTheWindowEndsTheRecord()
{
    auto run = std::make_unique<WindowDriver>(bench);
    ScriptedPeer peer;
    startIntoTheStall(*run, peer);
    QVERIFY(!QTest::currentTestFailed());
    const QString file = TestContext.resultFilePath;
    QVERIFY(!file.isEmpty());

    QElapsedTimer closing;
    closing.start();
    run->closeWindow();
    qInfo("the window went after %lld ms", closing.elapsed());
    QVERIFY2(closing.elapsed() < 2000, "the stalled read was not cut short");

    const std::optional<RunRecord> record = RunRecord::readBeside(file);
    QVERIFY(record);
    QCOMPARE(record->outcome.status, QStringLiteral("stopped"));
    QCOMPARE(record->outcome.stoppedBy, QStringLiteral("the window was closed"));
    QVERIFY(record->ended.isValid());
}

QTEST_MAIN(tst_MeterStall)
#include "tst_meterstall.moc"
