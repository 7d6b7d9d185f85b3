#include "tools/benchsim/Vxi11Server.h"

#include "tools/benchsim/DeadlineTimer.h"
#include "tools/benchsim/ReplyQueue.h"
#include "tools/benchsim/XdrReader.h"
#include "tools/benchsim/XdrWriter.h"

#include <QPointer>
#include <QTcpSocket>

namespace {

enum Procedure : quint32
{
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceReadStb = 13,
    DeviceTrigger = 14,
    DeviceClear = 15,
    DeviceLock = 18,
    DeviceUnlock = 19,
    DestroyLink = 23,
};

enum Error : qint32
{
    NoError = 0,
    DeviceNotAccessible = 3,
    InvalidLinkIdentifier = 4,
    OperationNotSupported = 8,
    DeviceLocked = 11,
    NoLockHeld = 12,
    IoTimeout = 15,
    Aborted = 23,
};

enum Flags : quint32
{
    FlagWaitLock = 0x01,
    FlagEnd = 0x08,
    FlagTermCharSet = 0x80
};
enum Reason : qint32
{
    ReasonRequestCount = 1,
    ReasonTermChar = 2,
    ReasonEnd = 4
};

// The results of a failed call of `procedure`: the error and empty values.
QByteArray failure(quint32 procedure, qint32 error)
{
    XdrWriter out;
    out.putInt(error);
    if (procedure == DeviceWrite || procedure == DeviceReadStb)
        out.putUint(0);
    else if (procedure == DeviceRead)
        out.putInt(0).putOpaque(QByteArray());
    return out.data();
}

} // namespace

Vxi11Server::Vxi11Server(InstrumentFrontEnd &frontEnd, QObject *parent)
    : RpcServer(parent), frontEnd(frontEnd)
{}

void Vxi11Server::handleCall(const RpcCall &call)
{
    if (call.program != CoreProgram) {
        reply(call, QByteArray(), ProgramUnavailable);
        return;
    }
    if (call.version != CoreVersion) {
        reply(call, XdrWriter().putUint(CoreVersion).putUint(CoreVersion).data(), ProgramMismatch);
        return;
    }
    switch (call.procedure) {
    case CreateLink:
        createLink(call);
        break;
    case DeviceWrite:
        deviceWrite(call);
        break;
    case DeviceRead:
        deviceRead(call);
        break;
    case DeviceReadStb:
        deviceReadStb(call);
        break;
    case DeviceTrigger:
        deviceTrigger(call);
        break;
    case DeviceClear:
        deviceClear(call);
        break;
    case DeviceLock:
        deviceLock(call);
        break;
    case DeviceUnlock:
        deviceUnlock(call);
        break;
    case DestroyLink:
        destroyLink(call);
        break;
    default:
        // Device_Error with a zero word after it, enough for every result type.
        reply(call, XdrWriter().putInt(OperationNotSupported).putUint(0).data());
        break;
    }
}

qint32 Vxi11Server::callersLink(const RpcCall &call, qint32 id)
{
    if (links.contains(id) && links[id].socket == call.socket)
        return id;
    reply(call, failure(call.procedure, InvalidLinkIdentifier));
    return 0;
}

bool Vxi11Server::passLock(const RpcCall &call, qint32 linkId, quint32 flags, quint32 lockTimeoutMs)
{
    if (lockOwner == 0 || lockOwner == linkId)
        return true;
    if (!(flags & FlagWaitLock) || lockTimeoutMs == 0) {
        reply(call, failure(call.procedure, DeviceLocked));
        return false;
    }
    LockWaiter waiter{nextWaiterId++, linkId, call, new DeadlineTimer(this)};
    const quint64 id = waiter.id;
    waiter.timer->start(lockTimeoutMs, [this, id] {
        for (qsizetype i = 0; i < lockWaiters.size(); ++i) {
            if (lockWaiters.at(i).id == id) {
                const LockWaiter expired = lockWaiters.takeAt(i);
                expired.timer->deleteLater();
                reply(expired.call, failure(expired.call.procedure, DeviceLocked));
                return;
            }
        }
    });
    lockWaiters.append(waiter);
    return false;
}

void Vxi11Server::releaseLock()
{
    lockOwner = 0;
    // In arrival order: the first waiting device_lock takes the lock, and the
    // calls of other links behind it keep waiting.
    const QList<LockWaiter> waiting = lockWaiters;
    lockWaiters.clear();
    for (const LockWaiter &waiter : waiting) {
        if (links.contains(waiter.linkId) && lockOwner != 0 && lockOwner != waiter.linkId) {
            lockWaiters.append(waiter);
            continue;
        }
        waiter.timer->stop();
        waiter.timer->deleteLater();
        if (links.contains(waiter.linkId))
            handleCall(waiter.call);
    }
}

void Vxi11Server::createLink(const RpcCall &call)
{
    XdrReader in(call.arguments);
    in.getInt(); // client id
    const bool lockDevice = in.getUint() != 0;
    in.getUint(); // lock timeout: a lock held by another link is not waited for here
    const QByteArray device = in.getOpaque(256);
    if (!in.ok()) {
        reply(call, QByteArray(), GarbageArguments);
        return;
    }
    XdrWriter out;
    if (!device.toLower().startsWith("inst")) {
        out.putInt(DeviceNotAccessible).putInt(0).putUint(0).putUint(0);
        reply(call, out.data());
        return;
    }
    if (lockDevice && lockOwner != 0) {
        out.putInt(DeviceLocked).putInt(0).putUint(0).putUint(0);
        reply(call, out.data());
        return;
    }
    const qint32 id = nextLinkId++;
    Link link;
    link.socket = call.socket;
    link.readTimeout = new DeadlineTimer(this);
    link.replies = new ReplyQueue(this);
    links.insert(id, link);
    if (lockDevice)
        lockOwner = id;
    out.putInt(NoError).putInt(id).putUint(0).putUint(MaxReceiveSize);
    reply(call, out.data());
}

void Vxi11Server::deviceWrite(const RpcCall &call)
{
    XdrReader in(call.arguments);
    qint32 id = in.getInt();
    in.getUint(); // io timeout
    const quint32 lockTimeout = in.getUint();
    const quint32 flags = in.getUint();
    const QByteArray data = in.getOpaque(int(MaxReceiveSize));
    if (!in.ok()) {
        reply(call, QByteArray(), GarbageArguments);
        return;
    }
    if ((id = callersLink(call, id)) == 0 || !passLock(call, id, flags, lockTimeout))
        return;
    reply(call, XdrWriter().putInt(NoError).putUint(quint32(data.size())).data());

    links[id].input.append(data);
    while (links.contains(id)) {
        const std::optional<LineAssembler::Line> line = links[id].input.next();
        if (!line)
            break;
        takeLine(call, id, *line);
    }
    if ((flags & FlagEnd) && links.contains(id)) {
        // END closes a message without a newline.
        if (const std::optional<LineAssembler::Line> rest = links[id].input.takeRest())
            takeLine(call, id, *rest);
    }
}

void Vxi11Server::takeLine(const RpcCall &call, qint32 linkId, const LineAssembler::Line &line)
{
    if (line.overlong) {
        frontEnd.handleOverlongLine(line.bytes);
        return;
    }
    Link &link = links[linkId];
    const InstrumentFrontEnd::Reply answer =
        frontEnd.handleLine(line.bytes, link.connection, !link.output.isEmpty());
    if (answer.bytes.isEmpty() && !answer.closeAfter)
        return;
    QPointer<QTcpSocket> socket(call.socket);
    const Message message{answer.bytes, answer.closeAfter};
    link.replies->push(answer.dueNs, answer.bytes.size(), [this, linkId, socket, message] {
        if (!links.contains(linkId))
            return;
        if (message.bytes.isEmpty()) {
            if (socket)
                hangUp(socket);
            return;
        }
        queueReply(linkId, message);
    });
}

void Vxi11Server::queueReply(qint32 linkId, const Message &message)
{
    Link &link = links[linkId];
    if (link.outputBytes + message.bytes.size() > ClientLimits::MaxOutputBacklog) {
        // Nobody reads this link's replies: they give way to the new one.
        link.output.clear();
        link.outputBytes = 0;
        frontEnd.repliesDropped();
    }
    link.output.append(message);
    link.outputBytes += message.bytes.size();
    if (link.hasPendingRead)
        completeRead(linkId);
}

void Vxi11Server::deviceRead(const RpcCall &call)
{
    XdrReader in(call.arguments);
    qint32 id = in.getInt();
    const quint32 requestSize = in.getUint();
    const quint32 ioTimeout = in.getUint();
    const quint32 lockTimeout = in.getUint();
    const quint32 flags = in.getUint();
    const qint32 termChar = in.getInt();
    if (!in.ok()) {
        reply(call, QByteArray(), GarbageArguments);
        return;
    }
    if ((id = callersLink(call, id)) == 0)
        return;
    if (links[id].hasPendingRead) { // one call at a time per link
        reply(call, failure(DeviceRead, InvalidLinkIdentifier));
        return;
    }
    if (!passLock(call, id, flags, lockTimeout))
        return;
    Link &link = links[id];
    link.hasPendingRead = true;
    link.read.call = call;
    link.read.requestSize = requestSize;
    link.read.termCharSet = flags & FlagTermCharSet;
    link.read.termChar = char(termChar);
    if (!link.output.isEmpty()) {
        completeRead(id);
        return;
    }
    // Nothing to say yet: wait for a (slow) reply until the client's timeout.
    link.readTimeout->start(ioTimeout, [this, id] {
        if (!links.contains(id) || !links[id].hasPendingRead)
            return;
        links[id].hasPendingRead = false;
        reply(links[id].read.call, failure(DeviceRead, IoTimeout));
    });
}

void Vxi11Server::completeRead(qint32 linkId)
{
    Link &link = links[linkId];
    Message &message = link.output.first();
    const PendingRead read = link.read;
    link.hasPendingRead = false;
    link.readTimeout->stop();

    qint32 reason = 0;
    qsizetype count = qMin<qsizetype>(message.bytes.size(), qsizetype(read.requestSize));
    const qsizetype term = read.termCharSet ? message.bytes.indexOf(read.termChar) : -1;
    if (term >= 0 && term < count) {
        count = term + 1;
        reason |= ReasonTermChar;
    }
    const QByteArray data = message.bytes.left(count);
    message.bytes.remove(0, count);
    link.outputBytes -= count;
    bool closeAfter = false;
    if (message.bytes.isEmpty()) {
        reason |= ReasonEnd;
        closeAfter = message.closeAfter;
        link.output.removeFirst();
    } else if (!(reason & ReasonTermChar)) {
        reason |= ReasonRequestCount;
    }
    reply(read.call, XdrWriter().putInt(NoError).putInt(reason).putOpaque(data).data());
    if (closeAfter)
        hangUp(read.call.socket);
}

qint32 Vxi11Server::genericCall(const RpcCall &call)
{
    XdrReader in(call.arguments); // Device_GenericParms: link, flags, lock and I/O timeouts
    const qint32 id = in.getInt();
    const quint32 flags = in.getUint();
    const quint32 lockTimeout = in.getUint();
    if (!in.ok()) {
        reply(call, QByteArray(), GarbageArguments);
        return 0;
    }
    const qint32 link = callersLink(call, id);
    return link != 0 && passLock(call, link, flags, lockTimeout) ? link : 0;
}

void Vxi11Server::deviceReadStb(const RpcCall &call)
{
    const qint32 id = genericCall(call);
    if (id == 0)
        return;
    const quint8 status = frontEnd.serialPoll(!links[id].output.isEmpty());
    reply(call, XdrWriter().putInt(NoError).putUint(status).data());
}

void Vxi11Server::deviceTrigger(const RpcCall &call)
{
    const qint32 id = genericCall(call);
    if (id == 0)
        return;
    frontEnd.trigger(links[id].connection);
    reply(call, failure(DeviceTrigger, NoError));
}

void Vxi11Server::deviceClear(const RpcCall &call)
{
    const qint32 id = genericCall(call);
    if (id == 0)
        return;
    Link &link = links[id];
    link.input.clear();
    link.output.clear();
    link.outputBytes = 0;
    link.replies->clear();
    if (link.hasPendingRead) {
        link.hasPendingRead = false;
        link.readTimeout->stop();
        reply(link.read.call, failure(DeviceRead, Aborted));
    }
    reply(call, failure(DeviceClear, NoError));
}

void Vxi11Server::deviceLock(const RpcCall &call)
{
    const qint32 id = genericCall(call);
    if (id == 0)
        return;
    lockOwner = id;
    reply(call, failure(DeviceLock, NoError));
}

void Vxi11Server::deviceUnlock(const RpcCall &call)
{
    XdrReader in(call.arguments);
    qint32 id = in.getInt();
    if (!in.ok()) {
        reply(call, QByteArray(), GarbageArguments);
        return;
    }
    if ((id = callersLink(call, id)) == 0)
        return;
    if (lockOwner != id) {
        reply(call, failure(DeviceUnlock, NoLockHeld));
        return;
    }
    reply(call, failure(DeviceUnlock, NoError));
    releaseLock();
}

void Vxi11Server::destroyLink(const RpcCall &call)
{
    XdrReader in(call.arguments);
    qint32 id = in.getInt();
    if ((id = callersLink(call, id)) == 0)
        return;
    reply(call, failure(DestroyLink, NoError));
    removeLink(id);
}

void Vxi11Server::removeLink(qint32 linkId)
{
    const Link link = links.take(linkId);
    link.readTimeout->stop();
    link.readTimeout->deleteLater();
    link.replies->clear();
    link.replies->deleteLater();
    for (qsizetype i = lockWaiters.size() - 1; i >= 0; --i) {
        if (lockWaiters.at(i).linkId == linkId) {
            DeadlineTimer *timer = lockWaiters.takeAt(i).timer;
            timer->stop();
            timer->deleteLater();
        }
    }
    if (lockOwner == linkId)
        releaseLock(); // a link destroyed or dropped gives up its lock
}

void Vxi11Server::hangUp(QTcpSocket *socket)
{
    clientGone(socket);
    socket->disconnectFromHost();
}

void Vxi11Server::clientGone(QTcpSocket *socket)
{
    const QList<qint32> ids = links.keys();
    for (qint32 id : ids) {
        if (links.contains(id) && links[id].socket == socket)
            removeLink(id);
    }
}
