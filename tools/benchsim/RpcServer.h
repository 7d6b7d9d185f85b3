#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// One ONC RPC call received over TCP.
struct RpcCall
{
    QTcpSocket *socket = nullptr;
    quint32 xid = 0;
    quint32 program = 0;
    quint32 version = 0;
    quint32 procedure = 0;
    QByteArray arguments; // XDR
};

// An ONC RPC server over TCP (RFC 5531) with record marking: splits the
// stream into calls and sends replies. Subclasses serve the procedures.
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

    // Listens on 127.0.0.1; port 0 picks a free port.
    bool listen(quint16 port);
    quint16 port() const { return server.serverPort(); }
    QString errorString() const { return server.errorString(); }

    // Replies may come later than the call (a read that waits for data).
    // With ProgramMismatch, `results` holds the lowest and highest version.
    static void reply(const RpcCall &call, const QByteArray &results,
                      AcceptStatus status = Success);

protected:
    virtual void handleCall(const RpcCall &call) = 0;
    virtual void clientGone(QTcpSocket *) {}

private:
    void readRecords(QTcpSocket *socket);
    void dispatch(QTcpSocket *socket, const QByteArray &record);

    // Bytes received but not yet a whole record, and the fragments so far.
    struct Stream
    {
        QByteArray pending;
        QByteArray record;
    };

    QTcpServer server;
    QHash<QTcpSocket *, Stream> streams;
};
