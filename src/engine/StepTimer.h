#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

// The step machine's single-shot timer. A QTimer rounds the time left up to
// whole milliseconds each time the event loop goes to sleep, so its timeouts
// come up to a millisecond late; over a sweep of thousands of waits that
// adds up to seconds. This timer keeps its deadline on the monotonic clock
// to the nanosecond and counts a wait from the end of the slot that started
// it: for a slot on its own timeout(), the moment that slot returns; for any
// other caller, its return to the event loop, at most 1 ms after start().
// It arms a timerfd shortly ahead of the deadline, since waking a sleeping
// thread takes tens of microseconds, passes the last stretch through the
// event loop, which stays responsive, and fires on the first pass at or
// after the deadline: never before it. Without a timerfd it falls back to a
// precise QTimer.
class StepTimer : public QObject
{
    Q_OBJECT

public:
    StepTimer();
    ~StepTimer() override;

    // Emits timeout() once, `ms` milliseconds after the calling slot has
    // ended (on a later pass of the event loop for 0 or less); a timer
    // already running starts afresh.
    void start(int ms);
    void stop();
    bool isActive() const { return active; }

signals:
    void timeout();

private:
    void callerReturned(quint64 arming);
    void schedule(qint64 due);
    void disarm();
    void woken();
    void approach(quint64 arming);
    void passThroughLoop(quint64 arming);
    void fire();

    int fd = -1;
    QSocketNotifier *notifier = nullptr;
    QTimer *fallback = nullptr;
    bool active = false;
    bool startedInSlot = false;    // by a slot on timeout(), still emitting
    int emitting = 0;              // depth of timeout() emissions under way
    quint64 armings = 0;           // tells a pass of an earlier start from the current one
    quint64 approachingArming = 0; // the start whose passes through the loop are under way
    qint64 waitNs = 0;
    qint64 startedNs = 0; // monotonic clock, as the deadline
    qint64 dueNs = 0;
};
