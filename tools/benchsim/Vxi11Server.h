#pragma once

#include "tools/benchsim/InstrumentFrontEnd.h"
#include "tools/benchsim/LineAssembler.h"
#include "tools/benchsim/RpcServer.h"

#include <QByteArray>
#include <QHash>
#include <QList>

class DeadlineTimer;
class ReplyQueue;

// Serves one simulated instrument over the VXI-11 core channel: create_link,
// device_write, device_read (request size, termination character, END),
// device_readstb, device_trigger, device_clear, device_lock, device_unlock
// and destroy_link.
// A read waits for the reply up to the client's io_timeout and then fails
// with the VXI-11 timeout error. While one link holds the lock, the calls of
// the others wait for it up to their lock_timeout when they set the
// wait-lock flag, and fail with "locked by another link" otherwise. Replies
// a link leaves unread beyond ClientLimits::MaxOutputBacklog are dropped
// and -430 "Query DEADLOCKED" goes into the error queue.
class Vxi11Server : public RpcServer
{
    Q_OBJECT

public:
    static constexpr quint32 CoreProgram = 0x0607AF;
    static constexpr quint32 CoreVersion = 1;
    static constexpr quint32 MaxReceiveSize = 1024;

    explicit Vxi11Server(InstrumentFrontEnd &frontEnd, QObject *parent = nullptr);

protected:
    void handleCall(const RpcCall &call) override;
    void clientGone(QTcpSocket *socket) override;

private:
    struct Message
    {
        QByteArray bytes;
        bool closeAfter = false;
    };
    struct PendingRead
    {
        RpcCall call;
        quint32 requestSize = 0;
        bool termCharSet = false;
        char termChar = '\n';
    };
    struct Link
    {
        QTcpSocket *socket = nullptr;
        LineAssembler input; // received bytes not yet ended by '\n' or END
        QList<Message> output;
        qsizetype outputBytes = 0;
        InstrumentFrontEnd::Connection connection;
        ReplyQueue *replies = nullptr; // not yet due
        bool hasPendingRead = false;
        PendingRead read;
        DeadlineTimer *readTimeout = nullptr;
    };
    // A call held until the lock is free or its lock timeout has passed.
    struct LockWaiter
    {
        quint64 id = 0;
        qint32 linkId = 0;
        RpcCall call;
        DeadlineTimer *timer = nullptr;
    };

    // The link the call names, or 0 after answering "invalid link".
    qint32 callersLink(const RpcCall &call, qint32 id);
    // Reads the generic arguments of readstb, clear and lock, and checks the
    // link and the lock: the link's id, or 0 when the call has been answered.
    qint32 genericCall(const RpcCall &call);
    // True when the link may go on now; otherwise the call has been answered
    // with "locked" or waits for the lock and is served again once it is free.
    bool passLock(const RpcCall &call, qint32 linkId, quint32 flags, quint32 lockTimeoutMs);
    void releaseLock();

    void createLink(const RpcCall &call);
    void deviceWrite(const RpcCall &call);
    void deviceRead(const RpcCall &call);
    void deviceReadStb(const RpcCall &call);
    void deviceTrigger(const RpcCall &call);
    void deviceClear(const RpcCall &call);
    void deviceLock(const RpcCall &call);
    void deviceUnlock(const RpcCall &call);
    void destroyLink(const RpcCall &call);
    void queueReply(qint32 linkId, const Message &message);
    void takeLine(const RpcCall &call, qint32 linkId, const LineAssembler::Line &line);
    void completeRead(qint32 linkId);
    void removeLink(qint32 linkId);
    void hangUp(QTcpSocket *socket);

    InstrumentFrontEnd &frontEnd;
    QHash<qint32, Link> links;
    qint32 nextLinkId = 1;
    qint32 lockOwner = 0; // 0: nobody holds the lock
    QList<LockWaiter> lockWaiters;
    quint64 nextWaiterId = 1;
};
