#include "Vxi11Server.h"

#include "InstrumentFrontEnd.h"
#include "XdrReader.h"
#include "XdrWriter.h"

#include <QTcpSocket>
#include <QTimer>

#include <climits>

namespace {

enum Procedure : quint32
{
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceClear = 15,
    DestroyLink = 23,
};

enum Error : qint32
{
    NoError = 0,
    DeviceNotAccessible = 3,
    InvalidLinkIdentifier = 4,
    OperationNotSupported = 8,
    IoTimeout = 15,
};

enum Flags : quint32
{
    FlagEnd = 0x08,
    FlagTermCharSet = 0x80
};
enum Reason : qint32
{
    ReasonRequestCount = 1,
    ReasonTermChar = 2,
    ReasonEnd = 4
};

QByteArray errorOnly(qint32 error)
{
    return XdrWriter().putInt(error).data();
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
    case DeviceClear:
        deviceClear(call);
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

void Vxi11Server::createLink(const RpcCall &call)
{
    XdrReader in(call.arguments);
    in.getInt();  // client id
    in.getUint(); // lock device
    in.getUint(); // lock timeout
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
    const qint32 id = nextLinkId++;
    Link link;
    link.socket = call.socket;
    links.insert(id, link);
    out.putInt(NoError).putInt(id).putUint(0).putUint(MaxReceiveSize);
    reply(call, out.data());
}

void Vxi11Server::deviceWrite(const RpcCall &call)
{
    XdrReader in(call.arguments);
    const qint32 id = in.getInt();
    in.getUint(); // io timeout
    in.getUint(); // lock timeout
    const quint32 flags = in.getUint();
    const QByteArray data = in.getOpaque(int(MaxReceiveSize));
    if (!in.ok()) {
        reply(call, QByteArray(), GarbageArguments);
        return;
    }
    if (!links.contains(id) || links[id].socket != call.socket) {
        reply(call, XdrWriter().putInt(InvalidLinkIdentifier).putUint(0).data());
        return;
    }
    reply(call, XdrWriter().putInt(NoError).putUint(quint32(data.size())).data());

    links[id].input += data;
    QList<QByteArray> lines;
    int end;
    while ((end = int(links[id].input.indexOf('\n'))) >= 0) {
        lines.append(links[id].input.left(end + 1));
        links[id].input.remove(0, end + 1);
    }
    if ((flags & FlagEnd) && !links[id].input.isEmpty()) {
        lines.append(links[id].input); // END closes a message without a newline
        links[id].input.clear();
    }
    for (const QByteArray &line : lines) {
        if (!links.contains(id))
            return;
        const InstrumentFrontEnd::Reply answer = frontEnd.handleLine(line, links[id].replies);
        const Message message{answer.bytes, answer.closeAfter};
        if (answer.bytes.isEmpty()) {
            if (answer.closeAfter) {
                hangUp(call.socket);
                return;
            }
            continue;
        }
        if (answer.delayMs > 0) {
            QTimer::singleShot(answer.delayMs, Qt::PreciseTimer, this, [this, id, message] {
                if (links.contains(id))
                    queueReply(id, message);
            });
        } else {
            queueReply(id, message);
        }
    }
}

void Vxi11Server::queueReply(qint32 linkId, const Message &message)
{
    links[linkId].output.append(message);
    if (links[linkId].hasPendingRead)
        completeRead(linkId);
}

void Vxi11Server::deviceRead(const RpcCall &call)
{
    XdrReader in(call.arguments);
    const qint32 id = in.getInt();
    const quint32 requestSize = in.getUint();
    const quint32 ioTimeout = in.getUint();
    in.getUint(); // lock timeout
    const quint32 flags = in.getUint();
    const qint32 termChar = in.getInt();
    if (!in.ok()) {
        reply(call, QByteArray(), GarbageArguments);
        return;
    }
    if (!links.contains(id) || links[id].socket != call.socket || links[id].hasPendingRead) {
        reply(call, XdrWriter().putInt(InvalidLinkIdentifier).putInt(0).putOpaque({}).data());
        return;
    }
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
    link.read.timer = new QTimer(this);
    link.read.timer->setSingleShot(true);
    link.read.timer->setTimerType(Qt::PreciseTimer); // a coarse one may end 5 % early
    connect(link.read.timer, &QTimer::timeout, this, [this, id] {
        if (!links.contains(id) || !links[id].hasPendingRead)
            return;
        Link &waiting = links[id];
        waiting.hasPendingRead = false;
        waiting.read.timer->deleteLater();
        waiting.read.timer = nullptr;
        reply(waiting.read.call,
              XdrWriter().putInt(IoTimeout).putInt(0).putOpaque(QByteArray()).data());
    });
    link.read.timer->start(int(qMin<quint32>(ioTimeout, 24u * 3600 * 1000)));
}

void Vxi11Server::completeRead(qint32 linkId)
{
    Link &link = links[linkId];
    Message &message = link.output.first();
    const PendingRead read = link.read;
    link.hasPendingRead = false;
    if (link.read.timer != nullptr) {
        link.read.timer->stop();
        link.read.timer->deleteLater();
        link.read.timer = nullptr;
    }

    qint32 reason = 0;
    qsizetype count = qMin<qsizetype>(message.bytes.size(), qsizetype(read.requestSize));
    const qsizetype term = read.termCharSet ? message.bytes.indexOf(read.termChar) : -1;
    if (term >= 0 && term < count) {
        count = term + 1;
        reason |= ReasonTermChar;
    }
    const QByteArray data = message.bytes.left(count);
    message.bytes.remove(0, count);
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

void Vxi11Server::deviceClear(const RpcCall &call)
{
    XdrReader in(call.arguments);
    const qint32 id = in.getInt();
    if (!links.contains(id) || links[id].socket != call.socket) {
        reply(call, errorOnly(InvalidLinkIdentifier));
        return;
    }
    links[id].input.clear();
    links[id].output.clear();
    reply(call, errorOnly(NoError));
}

void Vxi11Server::destroyLink(const RpcCall &call)
{
    XdrReader in(call.arguments);
    const qint32 id = in.getInt();
    if (!links.contains(id) || links[id].socket != call.socket) {
        reply(call, errorOnly(InvalidLinkIdentifier));
        return;
    }
    removeLink(id);
    reply(call, errorOnly(NoError));
}

void Vxi11Server::removeLink(qint32 linkId)
{
    Link link = links.take(linkId);
    if (link.read.timer != nullptr)
        link.read.timer->deleteLater();
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
        if (links[id].socket == socket)
            removeLink(id);
    }
}
