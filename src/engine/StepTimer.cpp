#include "engine/StepTimer.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

// How long before the deadline the thread is woken: more than it usually
// takes to wake up, little enough to keep the passes through the loop few.
const qint64 kWakeAheadNs = 200000;
// The latest a wait started outside timeout() starts counting: callers start
// the timer as the last thing they do, so they have returned by then; an
// event loop that comes round later (one that runs in steps, as the wait
// loops of tests do, or one held up) must not stretch the wait.
const qint64 kReturnWindowNs = 1000000;

qint64 monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

StepTimer::StepTimer()
{
    fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0) {
        notifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &StepTimer::woken);
    } else {
        fallback = new QTimer(this);
        fallback->setSingleShot(true);
        fallback->setTimerType(Qt::PreciseTimer);
        connect(fallback, &QTimer::timeout, this, [this] {
            active = false;
            emit timeout();
        });
    }
}

StepTimer::~StepTimer()
{
    delete notifier;
    if (fd >= 0)
        ::close(fd);
}

void StepTimer::start(int ms)
{
    active = true;
    ++armings;
    if (fallback) {
        fallback->start(qMax(ms, 0));
        return;
    }
    waitNs = qint64(qMax(ms, 0)) * 1000000;
    if (emitting > 0) {
        // Started from a slot on timeout(): the wait counts from that slot's
        // end, which fire() sees when the emission returns.
        startedInSlot = true;
        return;
    }
    // Started elsewhere: the wait counts from the caller's return to the
    // event loop, seen by a queued call.
    startedInSlot = false;
    startedNs = monotonicNs();
    schedule(startedNs + kReturnWindowNs + waitNs);
    const quint64 arming = armings;
    QMetaObject::invokeMethod(
        this, [this, arming] { callerReturned(arming); }, Qt::QueuedConnection);
}

void StepTimer::stop()
{
    active = false;
    startedInSlot = false;
    ++armings;
    if (fallback) {
        fallback->stop();
        return;
    }
    disarm();
}

void StepTimer::callerReturned(quint64 arming)
{
    if (!active || arming != armings)
        return;
    const qint64 now = monotonicNs();
    schedule(qMin(now, startedNs + kReturnWindowNs) + waitNs);
    if (dueNs - now <= kWakeAheadNs)
        approach(arming);
}

// Arms the timerfd kWakeAheadNs before `due`; a shorter wait is left to the
// passes through the event loop.
void StepTimer::schedule(qint64 due)
{
    dueNs = due;
    const qint64 wakeNs = dueNs - kWakeAheadNs;
    if (wakeNs <= monotonicNs()) {
        disarm();
        return;
    }
    // Re-arming also clears an expiry that nobody has read yet.
    itimerspec wake{};
    wake.it_value.tv_sec = time_t(wakeNs / 1000000000);
    wake.it_value.tv_nsec = long(wakeNs % 1000000000);
    ::timerfd_settime(fd, TFD_TIMER_ABSTIME, &wake, nullptr);
}

void StepTimer::disarm()
{
    const itimerspec disarmed{};
    ::timerfd_settime(fd, 0, &disarmed, nullptr);
}

void StepTimer::woken()
{
    const qint64 wokenNs = monotonicNs();
    // A notification that was on its way when the timer was stopped or
    // re-armed finds nothing to read and is ignored.
    std::uint64_t expirations = 0;
    if (::read(fd, &expirations, sizeof expirations) != qint64(sizeof expirations))
        return;
    // Woken ahead of the deadline, as planned, the last stretch goes through
    // the event loop; woken after it (a loop that runs in steps), it fires.
    if (wokenNs < dueNs)
        passThroughLoop(armings);
    else
        approach(armings);
}

// Fires once the deadline has come; until then, one more pass through the
// event loop.
void StepTimer::approach(quint64 arming)
{
    if (!active || arming != armings)
        return;
    if (monotonicNs() < dueNs) {
        passThroughLoop(arming);
        return;
    }
    fire();
}

// One chain of passes at a time.
void StepTimer::passThroughLoop(quint64 arming)
{
    if (approachingArming == arming)
        return;
    approachingArming = arming;
    QMetaObject::invokeMethod(
        this,
        [this, arming] {
            if (approachingArming == arming)
                approachingArming = 0;
            approach(arming);
        },
        Qt::QueuedConnection);
}

void StepTimer::fire()
{
    active = false;
    const QPointer<StepTimer> alive(this); // a slot may delete the timer
    ++emitting;
    emit timeout();
    if (!alive)
        return;
    --emitting;
    if (emitting > 0 || !startedInSlot || !active)
        return;
    startedInSlot = false;
    const qint64 now = monotonicNs();
    schedule(now + waitNs);
    if (dueNs - now <= kWakeAheadNs)
        passThroughLoop(armings);
}
