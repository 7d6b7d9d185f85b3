#include "tools/benchsim/RpcServer.h"

#include "tools/benchsim/ClientLimits.h"
#include "tools/benchsim/XdrReader.h"
#include "tools/benchsim/XdrWriter.h"

#include <QNetworkDatagram>
#include <QTcpSocket>

namespace {

constexpr quint32 LastFragment = 0x80000000u;
constexpr int MaxRecord = 64 * 1024; // VXI-11 and port mapper calls are far smaller
constexpr qint64 ReadChunk = 4096;

} // namespace

RpcServer::RpcServer(QObject *parent) : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            if (streams.size() >= ClientLimits::MaxConnections) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            socket->setReadBufferSize(ClientLimits::ReadBufferSize);
            streams.insert(socket, Stream());
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRecords(socket); });
            // Taken replies make room: a client held back is read from again.
            connect(socket, &QTcpSocket::bytesWritten, this,
                    [this, socket] { readRecords(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                streams.remove(socket);
                clientGone(socket);
                socket->deleteLater();
            });
        }
    });
    connect(&datagrams, &QUdpSocket::readyRead, this, &RpcServer::readDatagrams);
}

RpcServer::~RpcServer()
{
    // The sockets go with the server; they must not report back while it dies.
    for (QTcpSocket *socket : streams.keys())
        socket->disconnect(this);
}

bool RpcServer::listen(quint16 port)
{
    // A free TCP port may be taken for UDP: then try another one.
    for (int attempt = 0; attempt < 20; ++attempt) {
        udpError.clear();
        if (!server.listen(QHostAddress::LocalHost, port))
            return false;
        if (!servesDatagrams() || datagrams.bind(QHostAddress::LocalHost, server.serverPort()))
            return true;
        udpError = "UDP: " + datagrams.errorString();
        server.close();
        if (port != 0)
            return false;
    }
    return false;
}

void RpcServer::readDatagrams()
{
    while (datagrams.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = datagrams.receiveDatagram();
        RpcCall call;
        call.datagramSocket = &datagrams;
        call.peer = datagram.senderAddress();
        call.peerPort = quint16(datagram.senderPort());
        dispatch(call, datagram.data());
    }
}

void RpcServer::readRecords(QTcpSocket *socket)
{
    for (;;) {
        // Look the stream up afresh: a handler may have closed the socket.
        // A client that leaves its replies unread is not read from either.
        if (!streams.contains(socket) || socket->bytesToWrite() > ClientLimits::MaxOutputBacklog)
            return;
        Stream &stream = streams[socket];
        const quint32 mark =
            stream.pending.size() < 4 ? 0 : XdrReader(stream.pending.left(4)).getUint();
        const int length = int(mark & ~LastFragment);
        if (length > MaxRecord || stream.record.size() + length > MaxRecord) {
            socket->abort(); // not an RPC client we can serve
            return;
        }
        if (stream.pending.size() < 4 + length) {
            if (socket->bytesAvailable() == 0)
                return;
            stream.pending += socket->read(ReadChunk);
            continue;
        }
        stream.record += stream.pending.mid(4, length);
        stream.pending.remove(0, 4 + length);
        if (mark & LastFragment) {
            const QByteArray record = stream.record;
            stream.record.clear();
            RpcCall call;
            call.socket = socket;
            dispatch(call, record);
        }
    }
}

void RpcServer::dispatch(RpcCall call, const QByteArray &record)
{
    XdrReader in(record);
    call.xid = in.getUint();
    const quint32 messageType = in.getUint();
    const quint32 rpcVersion = in.getUint();
    call.program = in.getUint();
    call.version = in.getUint();
    call.procedure = in.getUint();
    in.getUint(); // credential flavour
    in.getOpaque(400);
    in.getUint(); // verifier flavour
    in.getOpaque(400);
    if (!in.ok() || messageType != 0)
        return; // not a call: ignore it
    if (rpcVersion != 2) {
        // MSG_DENIED, RPC_MISMATCH, supported versions 2..2
        XdrWriter out;
        out.putUint(call.xid).putUint(1).putUint(1).putUint(0).putUint(2).putUint(2);
        send(call, out.data());
        return;
    }
    call.arguments = in.rest();
    handleCall(call);
}

void RpcServer::reply(const RpcCall &call, const QByteArray &results, AcceptStatus status)
{
    XdrWriter out;
    out.putUint(call.xid).putUint(1).putUint(0); // REPLY, MSG_ACCEPTED
    out.putUint(0).putOpaque(QByteArray());      // AUTH_NONE verifier
    out.putUint(status);
    QByteArray body = out.data();
    if (status == Success || status == ProgramMismatch)
        body += results; // for a mismatch: the lowest and highest version served
    send(call, body);
}

void RpcServer::send(const RpcCall &call, const QByteArray &message)
{
    if (call.datagramSocket != nullptr) {
        call.datagramSocket->writeDatagram(message, call.peer, call.peerPort);
        return;
    }
    if (call.socket == nullptr || call.socket->state() != QAbstractSocket::ConnectedState)
        return;
    call.socket->write(XdrWriter().putUint(LastFragment | quint32(message.size())).data() +
                       message);
}
