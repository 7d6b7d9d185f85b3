#include "tools/benchsim/RawSocketServer.h"

#include "tools/benchsim/InstrumentFrontEnd.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

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
        clients.insert(socket, Client());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readLines(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            // A last line without its newline is still recorded.
            const Client client = clients.take(socket);
            if (!client.pending.isEmpty()) {
                int ignored = 0;
                frontEnd.handleLine(client.pending, ignored);
            }
            socket->deleteLater();
        });
    }
}

void RawSocketServer::readLines(QTcpSocket *socket)
{
    if (!clients.contains(socket))
        return;
    Client *state = &clients[socket];
    state->pending += socket->readAll();
    int end;
    while ((end = int(state->pending.indexOf('\n'))) >= 0) {
        const QByteArray line = state->pending.left(end + 1);
        state->pending.remove(0, end + 1);
        const InstrumentFrontEnd::Reply reply = frontEnd.handleLine(line, state->replies);

        QPointer<QTcpSocket> guarded(socket);
        const auto send = [guarded, reply] {
            if (!guarded || guarded->state() != QAbstractSocket::ConnectedState)
                return;
            if (!reply.bytes.isEmpty())
                guarded->write(reply.bytes);
            if (reply.closeAfter)
                guarded->disconnectFromHost();
        };
        if (reply.delayMs > 0)
            QTimer::singleShot(reply.delayMs, Qt::PreciseTimer, socket, send);
        else
            send();
        if (reply.closeAfter && reply.delayMs == 0)
            return; // what follows the line that ended the connection is dropped
    }
}
