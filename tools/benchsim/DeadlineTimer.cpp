#include "tools/benchsim/DeadlineTimer.h"

#include <algorithm>

namespace {

constexpr qint64 LongestArmMs = 24LL * 3600 * 1000; // QTimer takes an int

} // namespace

DeadlineTimer::DeadlineTimer(QObject *parent) : QObject(parent)
{
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &DeadlineTimer::fire);
}

void DeadlineTimer::start(qint64 ms, std::function<void()> expired)
{
    timer.stop();
    if (ms < 0)
        return;
    onExpired = std::move(expired);
    deadline = QDeadlineTimer(ms, Qt::PreciseTimer);
    timer.start(int(std::min(ms, LongestArmMs))); // from the event loop, even for 0
}

void DeadlineTimer::fire()
{
    const qint64 leftNs = deadline.remainingTimeNSecs();
    if (leftNs > 0) {
        // Rounded up: an interval one millisecond short would fire early again.
        timer.start(int(std::min<qint64>((leftNs + 999999) / 1000000, LongestArmMs)));
        return;
    }
    // The function may delete this timer: keep nothing of it afterwards.
    const std::function<void()> expired = std::move(onExpired);
    onExpired = nullptr;
    expired();
}
