#include "tools/benchsim/RawSocketServer.h"

#include "tools/benchsim/ReplyQueue.h"

#include <QPointer>
#include <QTcpSocket>

namespace {

constexpr qint64 ReadChunk = ClientLimits::ReadBufferSize;

} // namespace

RawSocketServer::RawSocketServer(InstrumentFrontEnd &frontEnd, QObject *parent)
    : QObject(parent), frontEnd(frontEnd)
{
    connect(&server, &QTcpServer::newConnection, this, &RawSocketServer::acceptClients);
}

RawSocketServer::~RawSocketServer()
{
    // The sockets go with the server; they must not report back while it dies.
    for (QTcpSocket *socket : clients.keys())
        socket->disconnect(this);
}

bool RawSocketServer::listen(quint16 port)
{
    return server.listen(QHostAddress::LocalHost, port);
}

void RawSocketServer::acceptClients()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        if (clients.size() >= ClientLimits::MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(ClientLimits::ReadBufferSize);
        Client client;
        client.replies = new ReplyQueue(socket);
        clients.insert(socket, client);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readLines(socket); });
        // Taken replies make room: a client held back is read from again.
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { readLines(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { hungUp(socket); });
    }
}

void RawSocketServer::readLines(QTcpSocket *socket)
{
    QPointer<QTcpSocket> guarded(socket);
    while (guarded && clients.contains(socket) &&
           socket->state() == QAbstractSocket::ConnectedState) {
        Client &client = clients[socket];
        if (socket->bytesToWrite() + client.replies->waitingBytes() >
            ClientLimits::MaxOutputBacklog)
            return; // held back until bytesWritten
        const std::optional<LineAssembler::Line> line = client.input.next();
        if (!line) {
            if (socket->bytesAvailable() == 0)
                return;
            client.input.append(socket->read(ReadChunk));
            continue;
        }
        if (line->overlong)
            frontEnd.handleOverlongLine(line->bytes);
        else
            queueReply(
                socket, client,
                frontEnd.handleLine(line->bytes, client.connection, !client.replies->isEmpty()));
    }
}

void RawSocketServer::queueReply(QTcpSocket *socket, Client &client,
                                 const InstrumentFrontEnd::Reply &reply)
{
    if (reply.bytes.isEmpty() && !reply.closeAfter)
        return;
    QPointer<QTcpSocket> guarded(socket);
    client.replies->push(reply.dueNs, reply.bytes.size(), [guarded, reply] {
        if (!guarded || guarded->state() != QAbstractSocket::ConnectedState)
            return;
        if (!reply.bytes.isEmpty())
            guarded->write(reply.bytes);
        if (reply.closeAfter)
            guarded->disconnectFromHost(); // what follows the line is dropped
    });
}

void RawSocketServer::hungUp(QTcpSocket *socket)
{
    // What the client sent before it hung up is still recorded, a last line
    // without its newline too; nobody is left to read the replies.
    if (clients.contains(socket)) {
        Client client = clients.take(socket);
        client.input.append(socket->readAll());
        while (const std::optional<LineAssembler::Line> line = client.input.next()) {
            if (line->overlong)
                frontEnd.handleOverlongLine(line->bytes);
            else
                frontEnd.handleLine(line->bytes, client.connection);
        }
        if (const std::optional<LineAssembler::Line> rest = client.input.takeRest())
            frontEnd.handleLine(rest->bytes, client.connection);
    }
    socket->deleteLater();
}
