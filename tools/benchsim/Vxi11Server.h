#pragma once

#include "RpcServer.h"

#include <QByteArray>
#include <QHash>
#include <QList>

class InstrumentFrontEnd;
class QTimer;

// Serves one simulated instrument over the VXI-11 core channel: create_link,
// device_write, device_read (request size, termination character, END),
// device_clear and destroy_link. A read waits for the reply up to the
// client's io_timeout and then fails with the VXI-11 timeout error.
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
        QTimer *timer = nullptr;
    };
    struct Link
    {
        QTcpSocket *socket = nullptr;
        QByteArray input; // received bytes not yet ended by '\n' or END
        QList<Message> output;
        int replies = 0;
        bool hasPendingRead = false;
        PendingRead read;
    };

    void createLink(const RpcCall &call);
    void deviceWrite(const RpcCall &call);
    void deviceRead(const RpcCall &call);
    void deviceClear(const RpcCall &call);
    void destroyLink(const RpcCall &call);
    void queueReply(qint32 linkId, const Message &message);
    void completeRead(qint32 linkId);
    void removeLink(qint32 linkId);
    void hangUp(QTcpSocket *socket);

    InstrumentFrontEnd &frontEnd;
    QHash<qint32, Link> links;
    qint32 nextLinkId = 1;
};
