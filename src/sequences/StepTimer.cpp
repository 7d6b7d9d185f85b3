#include "StepTimer.h"

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
        connect(fallback, &QTimer::timeout, this, [this] { approach(armings); });
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
    stop();
    waitNs = qint64(qMax(ms, 0)) * 1000000;
    active = true;
    const quint64 arming = armings;
    QMetaObject::invokeMethod(
        this, [this, arming] { arm(arming); }, Qt::QueuedConnection);
}

void StepTimer::arm(quint64 arming)
{
    if (!active || arming != armings)
        return;
    dueNs = monotonicNs() + waitNs;
    if (fallback) {
        fallback->start(int(waitNs / 1000000));
        return;
    }
    if (waitNs <= kWakeAheadNs) {
        approach(arming);
        return;
    }
    fdArming = arming;
    const qint64 wakeNs = dueNs - kWakeAheadNs;
    itimerspec wake{};
    wake.it_value.tv_sec = time_t(wakeNs / 1000000000);
    wake.it_value.tv_nsec = long(wakeNs % 1000000000);
    ::timerfd_settime(fd, TFD_TIMER_ABSTIME, &wake, nullptr);
}

void StepTimer::stop()
{
    active = false;
    ++armings;
    if (fallback) {
        fallback->stop();
        return;
    }
    // Disarming also clears an expiry that nobody has read yet.
    const itimerspec disarmed{};
    ::timerfd_settime(fd, 0, &disarmed, nullptr);
}

void StepTimer::woken()
{
    // A notification that was on its way when the timer was stopped or
    // re-armed finds nothing to read and is ignored.
    std::uint64_t expirations = 0;
    if (::read(fd, &expirations, sizeof expirations) != qint64(sizeof expirations))
        return;
    approach(fdArming);
}

void StepTimer::approach(quint64 arming)
{
    if (!active || arming != armings)
        return;
    if (monotonicNs() < dueNs) {
        QMetaObject::invokeMethod(
            this, [this, arming] { approach(arming); }, Qt::QueuedConnection);
        return;
    }
    active = false;
    emit timeout();
}
