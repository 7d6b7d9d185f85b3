#pragma once

#include "tools/benchsim/InstrumentFrontEnd.h"
#include "tools/benchsim/LineAssembler.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;
class ReplyQueue;

// Serves one simulated instrument as a raw SOCKET resource: lines end in
// '\n' both ways. Any number of clients may connect at once, up to
// ClientLimits::MaxConnections. A client whose replies pile up unread is
// not read from until it has taken them.
class RawSocketServer : public QObject
{
    Q_OBJECT

public:
    explicit RawSocketServer(InstrumentFrontEnd &frontEnd, QObject *parent = nullptr);
    ~RawSocketServer() override;

    // Listens on 127.0.0.1; port 0 picks a free port.
    bool listen(quint16 port);
    quint16 port() const { return server.serverPort(); }
    QString errorString() const { return server.errorString(); }

private:
    struct Client
    {
        LineAssembler input;
        InstrumentFrontEnd::Connection connection;
        ReplyQueue *replies = nullptr; // a child of the socket
    };

    void acceptClients();
    void readLines(QTcpSocket *socket);
    void hungUp(QTcpSocket *socket);
    void queueReply(QTcpSocket *socket, Client &client, const InstrumentFrontEnd::Reply &reply);

    InstrumentFrontEnd &frontEnd;
    QTcpServer server;
    QHash<QTcpSocket *, Client> clients;
};
