#pragma once

#include <QList>
#include <QObject>

#include <functional>

class DeadlineTimer;

// An instrument's exclusive lock shared by its clients, each known by a
// number: a request waits while another client holds the lock, until it is
// released or the request's timeout passes.
class ExclusiveLock : public QObject
{
    Q_OBJECT

public:
    // `granted` is called once: true when the lock is ours, false when the
    // timeout passed first (at once for timeout 0).
    using Answer = std::function<void(bool granted)>;

    explicit ExclusiveLock(QObject *parent = nullptr);

    void request(quint32 client, quint32 timeoutMs, const Answer &answer);
    // False when `client` does not hold the lock.
    bool release(quint32 client);
    // The client is gone: its lock is released, its waits end unanswered.
    void forget(quint32 client);
    bool isHeld() const { return held; }

private:
    struct Waiter
    {
        quint32 client = 0;
        DeadlineTimer *timer = nullptr;
        Answer answer;
    };

    void grantNext();
    void timedOut(DeadlineTimer *timer);

    bool held = false;
    quint32 owner = 0;
    QList<Waiter> waiters;
};
