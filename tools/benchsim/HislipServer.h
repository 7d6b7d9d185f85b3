#pragma once

#include "tools/benchsim/InstrumentFrontEnd.h"
#include "tools/benchsim/LineAssembler.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTcpServer>

class ExclusiveLock;
class QTcpSocket;
class ReplyQueue;

// Serves one simulated instrument over HiSLIP (overlapped mode): a session
// is a synchronous channel (Initialize, Data, DataEND, DeviceClearComplete)
// and an asynchronous one (maximum message size, device clear, status query,
// lock, remote/local) on the same port. A reply carries the message id of
// the message that asked for it and is split to the client's maximum
// message size. Device clear drops what the session has half received and
// the replies not yet sent. While a client leaves its replies unread, its
// synchronous channel is not read from.
class HislipServer : public QObject
{
    Q_OBJECT

public:
    // The largest message we take, header included: longer writes come split.
    static constexpr quint64 MaximumMessageSize = 1024;

    explicit HislipServer(InstrumentFrontEnd &frontEnd, QObject *parent = nullptr);
    ~HislipServer() override;

    // Listens on 127.0.0.1; port 0 picks a free port.
    bool listen(quint16 port);
    quint16 port() const { return server.serverPort(); }
    QString errorString() const { return server.errorString(); }

private:
    struct Message
    {
        quint8 type = 0;
        quint8 control = 0;
        quint32 parameter = 0;
        QByteArray payload;
    };
    // A connection before and after it became a channel of a session.
    struct Channel
    {
        QByteArray pending; // received bytes not yet a whole message
        quint16 session = 0;
    };
    struct Session
    {
        QTcpSocket *sync = nullptr;
        QTcpSocket *async = nullptr;
        LineAssembler input; // received bytes not yet ended by '\n' or DataEND
        InstrumentFrontEnd::Connection connection;
        ReplyQueue *replies = nullptr; // not yet due; deleted with the session
        quint64 clientMaximum = 1u << 20;
        bool clearing = false;    // between AsyncDeviceClear and DeviceClearComplete
        bool replyUnread = false; // MAV: a reply went out, the client has not said it arrived
    };

    void acceptClients();
    void readMessages(QTcpSocket *socket);
    void handle(QTcpSocket *socket, const Message &message);
    void initialize(QTcpSocket *socket, const Message &message);
    void initializeAsync(QTcpSocket *socket, const Message &message);
    void handleSync(quint16 id, const Message &message);
    void handleAsync(quint16 id, const Message &message);
    void takeData(quint16 id, const Message &message);
    void takeLine(quint16 id, quint32 messageId, const LineAssembler::Line &line);
    bool heldBack(QTcpSocket *socket) const;
    void sendReply(quint16 id, quint32 messageId, const QByteArray &bytes, bool closeAfter);
    void fail(QTcpSocket *socket, quint8 code, const QByteArray &text);
    void endSession(quint16 id);
    static void send(QTcpSocket *socket, quint8 type, quint8 control, quint32 parameter,
                     const QByteArray &payload = QByteArray());

    InstrumentFrontEnd &frontEnd;
    QTcpServer server;
    ExclusiveLock *lock;
    QHash<QTcpSocket *, Channel> channels;
    QHash<quint16, Session> sessions;
    quint16 lastSessionId = 0;
};
