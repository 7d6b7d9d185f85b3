// The step machine's timer: once per start, never early, waits counted from
// the return to the event loop, and nothing after a stop; and its conversions
// of parameter texts and waits.
#include "engine/RunEngine.h"
#include "engine/StepTimer.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <limits>

namespace {

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Keeps the thread busy without letting the event loop run.
void busyForUs(int us)
{
    const qint64 until = nowNs() + qint64(us) * 1000;
    while (nowNs() < until) {
    }
}

// Runs a real event loop for `ms` (QTest::qWait sleeps between its passes,
// which would hide how late a timeout comes).
void runLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Records when the timer was started and fired and when the slot that
// started it returned.
struct Times
{
    qint64 startedNs = 0;
    qint64 returnedNs = 0;
    QList<qint64> firedNs;
};

// Starts `timer` from a slot run by the event loop, as the step machine does,
// keeping that slot busy for `busyUs` after the start.
void startFromSlot(StepTimer &timer, int ms, Times &times, int busyUs)
{
    QObject::connect(&timer, &StepTimer::timeout, &timer, [&times] { times.firedNs << nowNs(); });
    QMetaObject::invokeMethod(
        &timer,
        [&timer, &times, ms, busyUs] {
            times.startedNs = nowNs();
            timer.start(ms);
            busyForUs(busyUs);
            times.returnedNs = nowNs();
        },
        Qt::QueuedConnection);
}

} // namespace

class tst_StepTimer : public QObject
{
    Q_OBJECT

private slots:
    void firesOnceAndNeverEarly_data();
    void firesOnceAndNeverEarly();
    void restartPostponesTheTimeout();
    void stopDropsAnExpiryNobodyHasReadYet();
    void waitStartedOnTheTimeoutCountsFromTheSlotsEnd();
    void parameter_data();
    void parameter();
    void timerInterval_data();
    void timerInterval();
};

void tst_StepTimer::firesOnceAndNeverEarly_data()
{
    QTest::addColumn<int>("ms");
    QTest::addColumn<int>("busyUs"); // how long the starting slot goes on after start()
    QTest::newRow("negative") << -5 << 0;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("settle-like") << 10 << 0;
    QTest::newRow("slot returns 0.5 ms later") << 10 << 500;
    // A loop that comes round late (one that runs in steps, as the wait
    // loops of tests do) does not stretch the wait beyond a millisecond
    // after start(); how little it stretches it is measured in bench/.
    QTest::newRow("loop comes round 30 ms later") << 10 << 30000;
}

// Never early: the wait counts from the slot's return, or from a millisecond
// after start() when the slot takes longer (a pre-empted thread included);
// a zero wait never fires from inside start().

void tst_StepTimer::firesOnceAndNeverEarly()
{
    QFETCH(int, ms);
    QFETCH(int, busyUs);
    for (int round = 0; round < 5; ++round) {
        StepTimer timer;
        Times times;
        QSignalSpy spy(&timer, &StepTimer::timeout);
        startFromSlot(timer, ms, times, busyUs);
        QVERIFY(spy.wait(qMax(ms, 0) + 2000));
        QVERIFY(!timer.isActive());
        const qint64 countedFromNs = qMin(times.returnedNs, times.startedNs + 1000000);
        const qint64 waitedNs = times.firedNs.value(0) - countedFromNs;
        QVERIFY2(waitedNs >= qint64(qMax(ms, 0)) * 1000000,
                 qPrintable(QString("fired %1 ns after the wait began").arg(waitedNs)));
        runLoop(20);
        QCOMPARE(spy.count(), 1);
    }
}

void tst_StepTimer::restartPostponesTheTimeout()
{
    StepTimer timer;
    QSignalSpy spy(&timer, &StepTimer::timeout);
    timer.start(60);
    runLoop(40);
    const qint64 restartedNs = nowNs();
    qint64 firedNs = 0;
    connect(&timer, &StepTimer::timeout, this, [&] { firedNs = nowNs(); });
    timer.start(60);
    QVERIFY(spy.wait(3000));
    QVERIFY(firedNs - restartedNs >= 60000000);
    runLoop(80);
    QCOMPARE(spy.count(), 1);
}

void tst_StepTimer::stopDropsAnExpiryNobodyHasReadYet()
{
    StepTimer timer;
    QSignalSpy spy(&timer, &StepTimer::timeout);
    timer.start(2);
    QCoreApplication::processEvents(); // arms it
    busyForUs(10000);                  // expired, not yet delivered
    timer.stop();
    QVERIFY(!timer.isActive());
    runLoop(30);
    QCOMPARE(spy.count(), 0);

    // A start right after an expiry goes by its own wait only.
    timer.start(2);
    QCoreApplication::processEvents();
    busyForUs(10000);
    const qint64 restartedNs = nowNs();
    qint64 firedNs = 0;
    connect(&timer, &StepTimer::timeout, this, [&] { firedNs = nowNs(); });
    timer.start(20);
    QVERIFY(spy.wait(2000));
    QVERIFY2(firedNs - restartedNs >= 20000000,
             qPrintable(QString("fired after %1 ns").arg(firedNs - restartedNs)));
    runLoop(30);
    QCOMPARE(spy.count(), 1);
}

void tst_StepTimer::waitStartedOnTheTimeoutCountsFromTheSlotsEnd()
{
    // The step machine's slots start the next wait from the timeout itself
    // and then still have work to do; here 3 ms, longer than a loop pass.
    StepTimer timer;
    QList<qint64> fired;
    qint64 returnedNs = 0;
    connect(&timer, &StepTimer::timeout, this, [&] {
        fired << nowNs();
        if (fired.size() == 1) {
            timer.start(10);
            busyForUs(3000);
            returnedNs = nowNs();
        }
    });
    QSignalSpy spy(&timer, &StepTimer::timeout);
    timer.start(0);
    while (spy.count() < 2)
        QVERIFY(spy.wait(1000));
    QVERIFY2(fired[1] - returnedNs >= 10000000,
             qPrintable(QString("%1 ns after the slot").arg(fired[1] - returnedNs)));
}

void tst_StepTimer::parameter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value");
    QTest::newRow("negative") << "-3" << qint64(-3);
    QTest::newRow("words") << "ten" << qint64(0);
    QTest::newRow("hex is not decimal") << "0x10" << qint64(0);
    QTest::newRow("beyond 32 bits") << "4294967296" << qint64(4294967296LL);
    QTest::newRow("beyond 64 bits") << "9223372036854775808" << qint64(0);
}

void tst_StepTimer::parameter()
{
    QFETCH(QString, text);
    QFETCH(qint64, value);
    QCOMPARE(RunEngine::parameter(text), value);
}

void tst_StepTimer::timerInterval_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<int>("interval");
    QTest::newRow("negative runs at once") << qint64(-5) << 0;
    QTest::newRow("int64 min") << std::numeric_limits<qint64>::min() << 0;
    QTest::newRow("beyond 32 bits is clamped")
        << qint64(4294967296LL) << std::numeric_limits<int>::max();
}

void tst_StepTimer::timerInterval()
{
    QFETCH(qint64, ms);
    QFETCH(int, interval);
    QCOMPARE(RunEngine::timerInterval(ms), interval);
}

QTEST_GUILESS_MAIN(tst_StepTimer)
#include "tst_steptimer.moc"
