#include "tools/benchsim/HislipServer.h"

#include "tools/benchsim/ExclusiveLock.h"
#include "tools/benchsim/ReplyQueue.h"

#include <QPointer>
#include <QTcpSocket>
#include <QtEndian>

namespace {

enum MessageType : quint8
{
    Initialize = 0,
    InitializeResponse = 1,
    FatalError = 2,
    Error = 3,
    AsyncLock = 4,
    AsyncLockResponse = 5,
    Data = 6,
    DataEnd = 7,
    DeviceClearComplete = 8,
    DeviceClearAcknowledge = 9,
    AsyncRemoteLocalControl = 10,
    AsyncRemoteLocalResponse = 11,
    Trigger = 12,
    AsyncMaximumMessageSize = 15,
    AsyncMaximumMessageSizeResponse = 16,
    AsyncInitialize = 17,
    AsyncInitializeResponse = 18,
    AsyncDeviceClear = 19,
    AsyncStatusQuery = 21,
    AsyncStatusResponse = 22,
    AsyncDeviceClearAcknowledge = 23,
    AsyncLockInfo = 24,
    AsyncLockInfoResponse = 25,
};

enum FatalCode : quint8
{
    PoorlyFormedHeader = 1,
    InvalidInitialization = 3,
};
enum ErrorCode : quint8
{
    UnrecognizedMessageType = 1,
    UnrecognizedControlCode = 2,
    MessageTooLarge = 4,
};

constexpr qsizetype HeaderSize = 16;
constexpr quint64 PayloadLimit = 64 * 1024; // beyond this a client is taken for broken
constexpr qint64 ReadChunk = 4096;
constexpr quint16 ProtocolVersion = 0x0100;
constexpr quint16 VendorId = 'B' << 8 | 'S';
constexpr quint8 Overlapped = 1; // our mode, in InitializeResponse and the clear handshake
constexpr quint8 RmtDelivered = 1;

QByteArray bigEndian64(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

} // namespace

HislipServer::HislipServer(InstrumentFrontEnd &frontEnd, QObject *parent)
    : QObject(parent), frontEnd(frontEnd), lock(new ExclusiveLock(this))
{
    connect(&server, &QTcpServer::newConnection, this, &HislipServer::acceptClients);
}

HislipServer::~HislipServer()
{
    // The sockets go with the server; they must not report back while it dies.
    for (QTcpSocket *socket : channels.keys())
        socket->disconnect(this);
}

bool HislipServer::listen(quint16 port)
{
    return server.listen(QHostAddress::LocalHost, port);
}

void HislipServer::acceptClients()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        if (channels.size() >= ClientLimits::MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(ClientLimits::ReadBufferSize);
        channels.insert(socket, Channel());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readMessages(socket); });
        // Taken replies make room: a client held back is read from again.
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { readMessages(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            // Either channel going ends the session.
            const Channel channel = channels.take(socket);
            if (channel.session != 0)
                endSession(channel.session);
            socket->deleteLater();
        });
    }
}

void HislipServer::send(QTcpSocket *socket, quint8 type, quint8 control, quint32 parameter,
                        const QByteArray &payload)
{
    QByteArray frame("HS", 2);
    frame.append(char(type)).append(char(control));
    char word[4];
    qToBigEndian(parameter, word);
    frame.append(word, 4).append(bigEndian64(quint64(payload.size()))).append(payload);
    socket->write(frame);
}

// A channel whose peer leaves our messages unread is not read from either.
bool HislipServer::heldBack(QTcpSocket *socket) const
{
    qint64 backlog = socket->bytesToWrite();
    const quint16 id = channels.value(socket).session;
    if (id != 0 && sessions.contains(id) && sessions[id].sync == socket)
        backlog += sessions[id].replies->waitingBytes();
    return backlog > ClientLimits::MaxOutputBacklog;
}

void HislipServer::readMessages(QTcpSocket *socket)
{
    QPointer<QTcpSocket> guarded(socket);
    while (guarded && channels.contains(socket) && !heldBack(socket)) {
        QByteArray &pending = channels[socket].pending;
        const quint64 length =
            pending.size() < HeaderSize ? 0 : qFromBigEndian<quint64>(pending.constData() + 8);
        if (pending.size() >= HeaderSize && (!pending.startsWith("HS") || length > PayloadLimit)) {
            fail(socket, PoorlyFormedHeader, "poorly formed message header");
            return;
        }
        if (pending.size() < HeaderSize || quint64(pending.size() - HeaderSize) < length) {
            if (socket->bytesAvailable() == 0)
                return;
            pending += socket->read(ReadChunk);
            continue;
        }
        Message message;
        message.type = quint8(pending[2]);
        message.control = quint8(pending[3]);
        message.parameter = qFromBigEndian<quint32>(pending.constData() + 4);
        message.payload = pending.mid(HeaderSize, qsizetype(length));
        pending.remove(0, HeaderSize + qsizetype(length));
        handle(socket, message);
    }
}

void HislipServer::handle(QTcpSocket *socket, const Message &message)
{
    const quint16 id = channels[socket].session;
    if (id == 0) {
        if (message.type == Initialize)
            initialize(socket, message);
        else if (message.type == AsyncInitialize)
            initializeAsync(socket, message);
        else
            fail(socket, InvalidInitialization, "initialize the channel first");
        return;
    }
    if (!sessions.contains(id))
        return; // the session ended with this message still unread
    if (sessions[id].sync == socket)
        handleSync(id, message);
    else
        handleAsync(id, message);
}

void HislipServer::initialize(QTcpSocket *socket, const Message &message)
{
    if (!message.payload.toLower().startsWith("hislip")) {
        fail(socket, InvalidInitialization, "no such sub-address: " + message.payload);
        return;
    }
    do {
        ++lastSessionId;
    } while (lastSessionId == 0 || sessions.contains(lastSessionId));
    Session session;
    session.sync = socket;
    session.replies = new ReplyQueue(this);
    sessions.insert(lastSessionId, session);
    channels[socket].session = lastSessionId;
    send(socket, InitializeResponse, Overlapped, quint32(ProtocolVersion) << 16 | lastSessionId);
}

void HislipServer::initializeAsync(QTcpSocket *socket, const Message &message)
{
    const quint16 id = quint16(message.parameter & 0xFFFF);
    if (!sessions.contains(id) || sessions[id].async != nullptr) {
        fail(socket, InvalidInitialization, "no session waits for this channel");
        return;
    }
    sessions[id].async = socket;
    channels[socket].session = id;
    send(socket, AsyncInitializeResponse, 0, VendorId);
}

void HislipServer::handleSync(quint16 id, const Message &message)
{
    Session &session = sessions[id];
    switch (message.type) {
    case Data:
    case DataEnd:
        takeData(id, message);
        break;
    case Trigger:
        if (message.control & RmtDelivered)
            session.replyUnread = false;
        frontEnd.trigger(session.connection);
        break;
    case DeviceClearComplete:
        session.clearing = false;
        send(session.sync, DeviceClearAcknowledge, Overlapped, 0);
        break;
    default:
        send(session.sync, Error, UnrecognizedMessageType, 0, "unexpected message type");
        break;
    }
}

void HislipServer::takeData(quint16 id, const Message &message)
{
    Session &session = sessions[id];
    if (message.control & RmtDelivered)
        session.replyUnread = false;
    if (session.clearing)
        return; // the client abandons everything until DeviceClearComplete
    if (quint64(message.payload.size()) > MaximumMessageSize - HeaderSize) {
        send(session.sync, Error, MessageTooLarge, 0, "message too large");
        return;
    }
    // A reply carries the id of the message whose bytes completed the query.
    session.input.append(message.payload);
    while (sessions.contains(id)) {
        const std::optional<LineAssembler::Line> line = sessions[id].input.next();
        if (!line)
            break;
        takeLine(id, message.parameter, *line);
    }
    if (message.type == DataEnd && sessions.contains(id)) {
        // END closes a message without a newline.
        if (const std::optional<LineAssembler::Line> rest = sessions[id].input.takeRest())
            takeLine(id, message.parameter, *rest);
    }
}

void HislipServer::takeLine(quint16 id, quint32 messageId, const LineAssembler::Line &line)
{
    if (line.overlong) {
        frontEnd.handleOverlongLine(line.bytes);
        return;
    }
    Session &session = sessions[id];
    const InstrumentFrontEnd::Reply reply =
        frontEnd.handleLine(line.bytes, session.connection, session.replyUnread);
    if (reply.bytes.isEmpty() && !reply.closeAfter)
        return;
    session.replies->push(reply.dueNs, reply.bytes.size(), [this, id, messageId, reply] {
        if (!sessions.contains(id))
            return;
        if (reply.bytes.isEmpty())
            endSession(id);
        else
            sendReply(id, messageId, reply.bytes, reply.closeAfter);
    });
}

void HislipServer::sendReply(quint16 id, quint32 messageId, const QByteArray &bytes,
                             bool closeAfter)
{
    Session &session = sessions[id];
    const qsizetype most = qsizetype(qMin<quint64>(
        qMax<quint64>(session.clientMaximum, HeaderSize + 1) - HeaderSize, PayloadLimit));
    for (qsizetype at = 0; at < bytes.size(); at += most) {
        const bool last = at + most >= bytes.size();
        send(session.sync, last ? DataEnd : Data, 0, messageId, bytes.mid(at, most));
    }
    session.replyUnread = true;
    if (closeAfter)
        endSession(id);
}

void HislipServer::handleAsync(quint16 id, const Message &message)
{
    Session &session = sessions[id];
    QTcpSocket *async = session.async;
    switch (message.type) {
    case AsyncMaximumMessageSize:
        if (message.payload.size() == 8)
            session.clientMaximum = qFromBigEndian<quint64>(message.payload.constData());
        send(async, AsyncMaximumMessageSizeResponse, 0, 0, bigEndian64(MaximumMessageSize));
        break;
    case AsyncDeviceClear:
        session.replies->clear();
        session.input.clear();
        session.clearing = true;
        send(async, AsyncDeviceClearAcknowledge, Overlapped, 0);
        break;
    case AsyncStatusQuery:
        if (message.control & RmtDelivered)
            session.replyUnread = false;
        send(async, AsyncStatusResponse, frontEnd.serialPoll(session.replyUnread), 0);
        break;
    case AsyncLock: {
        QPointer<QTcpSocket> guarded(async);
        const auto answer = [guarded](bool granted) {
            if (guarded)
                send(guarded, AsyncLockResponse, granted ? 1 : 0, 0);
        };
        if (message.control == 1)
            lock->request(id, message.parameter, answer);
        else
            send(async, AsyncLockResponse, lock->release(id) ? 1 : 3, 0);
        break;
    }
    case AsyncLockInfo:
        send(async, AsyncLockInfoResponse, lock->isHeld() ? 1 : 0, lock->isHeld() ? 1 : 0);
        break;
    case AsyncRemoteLocalControl:
        if (message.control > 6)
            send(async, Error, UnrecognizedControlCode, 0, "no such remote/local request");
        else
            send(async, AsyncRemoteLocalResponse, 0, 0);
        break;
    default:
        send(async, Error, UnrecognizedMessageType, 0, "unexpected message type");
        break;
    }
}

void HislipServer::fail(QTcpSocket *socket, quint8 code, const QByteArray &text)
{
    send(socket, FatalError, code, 0, text);
    const Channel channel = channels.take(socket);
    if (channel.session != 0)
        endSession(channel.session);
    socket->disconnectFromHost();
}

void HislipServer::endSession(quint16 id)
{
    if (!sessions.contains(id))
        return;
    const Session session = sessions.take(id);
    session.replies->clear();
    session.replies->deleteLater();
    lock->forget(id);
    // Closing one channel may report at once; the session is gone by then.
    for (QTcpSocket *socket : {session.sync, session.async}) {
        if (socket != nullptr && socket->state() != QAbstractSocket::UnconnectedState)
            socket->disconnectFromHost();
    }
}
