#pragma once

#include "tools/benchsim/DeadlineTimer.h"

#include <QList>
#include <QObject>

#include <functional>

// The replies of one connection in the order their lines came: each is sent
// once its due time has passed on the monotonic clock (never before) and
// never ahead of one queued before it. A reply already due with nothing
// ahead of it is sent at once, from push().
class ReplyQueue : public QObject
{
    Q_OBJECT

public:
    explicit ReplyQueue(QObject *parent = nullptr);

    // `send` runs when the reply goes out; `bytes` counts towards the backlog.
    // `dueNs` is on the clock of monotonicNow().
    void push(qint64 dueNs, qsizetype bytes, std::function<void()> send);
    // Drops every reply not yet sent (device clear).
    void clear();
    qsizetype waitingBytes() const { return bytes; }
    bool isEmpty() const { return waiting.isEmpty(); }

    // Nanoseconds on the monotonic clock that due times are given on.
    static qint64 monotonicNow();

private:
    struct Entry
    {
        qint64 dueNs = 0;
        qsizetype bytes = 0;
        std::function<void()> send;
    };

    void sendDue();

    QList<Entry> waiting;
    qsizetype bytes = 0;
    DeadlineTimer timer;
};
