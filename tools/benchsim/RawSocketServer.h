#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class InstrumentFrontEnd;
class QTcpSocket;

// Serves one simulated instrument as a raw SOCKET resource: lines end in
// '\n' both ways. Any number of clients may connect at once.
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
    void acceptClients();
    void readLines(QTcpSocket *socket);

    // What a client has sent but not yet ended with '\n', and its replies so far.
    struct Client
    {
        QByteArray pending;
        int replies = 0;
    };

    InstrumentFrontEnd &frontEnd;
    QTcpServer server;
    QHash<QTcpSocket *, Client> clients;
};
