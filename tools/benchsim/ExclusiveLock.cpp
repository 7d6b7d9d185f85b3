#include "tools/benchsim/ExclusiveLock.h"

#include "tools/benchsim/DeadlineTimer.h"

ExclusiveLock::ExclusiveLock(QObject *parent) : QObject(parent) {}

void ExclusiveLock::request(quint32 client, quint32 timeoutMs, const Answer &answer)
{
    if (!held || owner == client) {
        held = true;
        owner = client;
        answer(true);
        return;
    }
    if (timeoutMs == 0) {
        answer(false);
        return;
    }
    auto *timer = new DeadlineTimer(this);
    timer->start(timeoutMs, [this, timer] { timedOut(timer); });
    waiters.append(Waiter{client, timer, answer});
}

bool ExclusiveLock::release(quint32 client)
{
    if (!held || owner != client)
        return false;
    held = false;
    grantNext();
    return true;
}

void ExclusiveLock::forget(quint32 client)
{
    for (qsizetype i = waiters.size() - 1; i >= 0; --i) {
        if (waiters[i].client == client)
            waiters.takeAt(i).timer->deleteLater();
    }
    release(client);
}

void ExclusiveLock::grantNext()
{
    if (waiters.isEmpty())
        return;
    const Waiter next = waiters.takeFirst();
    next.timer->stop();
    next.timer->deleteLater();
    held = true;
    owner = next.client;
    next.answer(true);
}

void ExclusiveLock::timedOut(DeadlineTimer *timer)
{
    for (qsizetype i = 0; i < waiters.size(); ++i) {
        if (waiters[i].timer == timer) {
            const Waiter waiter = waiters.takeAt(i);
            waiter.timer->deleteLater();
            waiter.answer(false);
            return;
        }
    }
}
