#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Calls a function once, when the monotonic clock has really passed a
// deadline. A Qt timer may fire a little before its interval is over; this
// one then arms itself again for what is left, so that a timeout the
// simulator reports is never early.
class DeadlineTimer : public QObject
{
    Q_OBJECT

public:
    explicit DeadlineTimer(QObject *parent = nullptr);

    // Starts over: `expired` runs from the event loop once `ms` milliseconds
    // from now have passed (never, for a negative `ms`).
    void start(qint64 ms, std::function<void()> expired);
    void stop() { timer.stop(); }
    bool isActive() const { return timer.isActive(); }

private:
    void fire();

    QTimer timer;
    QDeadlineTimer deadline;
    std::function<void()> onExpired;
};
