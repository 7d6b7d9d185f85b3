#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

// The step machine's single-shot timer. A QTimer rounds the time left up to
// whole milliseconds each time the event loop goes to sleep, so its timeouts
// come up to a millisecond late; over a sweep of thousands of waits that
// adds up to seconds. This timer counts a wait from the moment control is
// back in the event loop, that is from the end of the slot that started it,
// takes the deadline on the monotonic clock to the nanosecond and arms a
// timerfd slightly ahead of it, since waking a sleeping thread takes tens of
// microseconds. The last stretch it passes through the event loop, which
// stays responsive, and it fires on the first pass at or after the deadline:
// never before it. Without a timerfd it falls back to a precise QTimer.
class StepTimer : public QObject
{
    Q_OBJECT

public:
    StepTimer();
    ~StepTimer() override;

    // Emits timeout() once, `ms` milliseconds after the caller has returned
    // to the event loop (on its next pass for 0 or less); a timer already
    // running starts afresh.
    void start(int ms);
    void stop();
    bool isActive() const { return active; }

signals:
    void timeout();

private:
    void arm(quint64 arming);
    void woken();
    void approach(quint64 arming);

    int fd = -1;
    QSocketNotifier *notifier = nullptr;
    QTimer *fallback = nullptr;
    bool active = false;
    quint64 armings = 0;  // tells a pass of an earlier start from the current one
    quint64 fdArming = 0; // the start the timerfd was last armed for
    qint64 waitNs = 0;
    qint64 dueNs = 0; // monotonic clock
};
