#include "tools/benchsim/ReplyQueue.h"

#include <QDeadlineTimer>
#include <QPointer>

ReplyQueue::ReplyQueue(QObject *parent) : QObject(parent) {}

qint64 ReplyQueue::monotonicNow()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs();
}

void ReplyQueue::push(qint64 dueNs, qsizetype size, std::function<void()> send)
{
    waiting.append({dueNs, size, std::move(send)});
    bytes += size;
    if (waiting.size() == 1)
        sendDue();
}

void ReplyQueue::clear()
{
    waiting.clear();
    bytes = 0;
    timer.stop();
}

void ReplyQueue::sendDue()
{
    // A send may close the connection and so clear or delete this queue.
    QPointer<ReplyQueue> alive(this);
    while (alive && !waiting.isEmpty()) {
        const qint64 leftNs = waiting.first().dueNs - monotonicNow();
        if (leftNs > 0) {
            timer.start((leftNs + 999999) / 1000000, [this] { sendDue(); });
            return;
        }
        const Entry entry = waiting.takeFirst();
        bytes -= entry.bytes;
        entry.send();
    }
}
