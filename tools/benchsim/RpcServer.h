#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QUdpSocket>

class QTcpSocket;

// One ONC RPC call received over TCP, or over UDP (socket null then).
struct RpcCall
{
    QTcpSocket *socket = nullptr;
    QUdpSocket *datagramSocket = nullptr;
    QHostAddress peer; // of a datagram
    quint16 peerPort = 0;
    quint32 xid = 0;
    quint32 program = 0;
    quint32 version = 0;
    quint32 procedure = 0;
    QByteArray arguments; // XDR
};

// An ONC RPC server over TCP (RFC 5531) with record marking, and over UDP on
// the same port for services that offer it: splits the stream into calls
// and sends replies. Subclasses serve the procedures.
class RpcServer : public QObject
{
    Q_OBJECT

public:
    enum AcceptStatus : quint32
    {
        Success = 0,
        ProgramUnavailable = 1,
        ProgramMismatch = 2,
        ProcedureUnavailable = 3,
        GarbageArguments = 4
    };

    explicit RpcServer(QObject *parent = nullptr);
    ~RpcServer() override;

    // Listens on 127.0.0.1 (UDP too when servesDatagrams()); port 0 picks a
    // port free for both.
    bool listen(quint16 port);
    quint16 port() const { return server.serverPort(); }
    QString errorString() const { return udpError.isEmpty() ? server.errorString() : udpError; }

    // Replies may come later than the call (a read that waits for data).
    // With ProgramMismatch, `results` holds the lowest and highest version.
    static void reply(const RpcCall &call, const QByteArray &results,
                      AcceptStatus status = Success);

protected:
    virtual void handleCall(const RpcCall &call) = 0;
    virtual bool servesDatagrams() const { return false; }
    virtual void clientGone(QTcpSocket *) {}

private:
    void readRecords(QTcpSocket *socket);
    void readDatagrams();
    void dispatch(RpcCall call, const QByteArray &record);
    static void send(const RpcCall &call, const QByteArray &message);

    // Bytes received but not yet a whole record, and the fragments so far.
    struct Stream
    {
        QByteArray pending;
        QByteArray record;
    };

    QTcpServer server;
    QUdpSocket datagrams;
    QString udpError;
    QHash<QTcpSocket *, Stream> streams;
};
