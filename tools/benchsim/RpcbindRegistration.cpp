#include "tools/benchsim/RpcbindRegistration.h"

#include "tools/benchsim/XdrReader.h"
#include "tools/benchsim/XdrWriter.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <optional>

namespace {

constexpr quint16 RpcbindPort = 111;
constexpr quint32 PortMapperProgram = 100000;
constexpr quint32 PortMapperVersion = 2;
constexpr quint32 ProtocolTcp = 6;
constexpr quint32 LastFragment = 0x80000000u;
constexpr int WaitMs = 1000;

enum Procedure : quint32
{
    Set = 1,
    Unset = 2,
    GetPort = 3,
};

// One port mapper call over a fresh TCP connection: the single result word,
// or nothing when no port mapper answers in time or it refuses the call.
std::optional<quint32> call(quint32 procedure, quint32 program, quint32 version, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, RpcbindPort);
    if (!socket.waitForConnected(WaitMs))
        return std::nullopt;
    const quint32 xid = 0x42530000u | procedure;
    XdrWriter message;
    message.putUint(xid).putUint(0).putUint(2); // CALL, RPC version 2
    message.putUint(PortMapperProgram).putUint(PortMapperVersion).putUint(procedure);
    message.putUint(0).putOpaque(QByteArray()).putUint(0).putOpaque(QByteArray()); // AUTH_NONE
    message.putUint(program).putUint(version).putUint(ProtocolTcp).putUint(port);
    const QByteArray body = message.data();
    socket.write(XdrWriter().putUint(LastFragment | quint32(body.size())).data() + body);

    // The reply is one short record: mark, xid, REPLY, accepted, verifier,
    // SUCCESS and the result.
    QByteArray received;
    while (received.size() < 4 + 28 && socket.waitForReadyRead(WaitMs))
        received += socket.readAll();
    XdrReader in(received);
    in.getUint(); // record mark
    const bool matches = in.getUint() == xid && in.getUint() == 1 && in.getUint() == 0;
    in.getUint();
    in.getOpaque(400);
    const bool accepted = in.getUint() == 0;
    const quint32 result = in.getUint();
    if (!in.ok() || !matches || !accepted)
        return std::nullopt;
    return result;
}

bool listening(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(WaitMs);
}

} // namespace

RpcbindRegistration::~RpcbindRegistration()
{
    unregister();
}

bool RpcbindRegistration::registerPort(quint32 program, quint32 version, quint16 port, QString *why)
{
    const auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    const std::optional<quint32> present = call(GetPort, program, version, 0);
    if (!present)
        return fail("no rpcbind answers on 127.0.0.1 port 111");
    if (*present != 0) {
        if (*present <= 0xFFFF && listening(quint16(*present)))
            return fail(QString("rpcbind already leads to a server on port %1").arg(*present));
        call(Unset, program, version, 0); // stale: its server is gone
    }
    if (call(Set, program, version, port).value_or(0) != 1)
        return fail("rpcbind refused the registration");
    this->program = program;
    this->version = version;
    registeredPort = port;
    return true;
}

void RpcbindRegistration::unregister()
{
    if (registeredPort == 0)
        return;
    if (call(GetPort, program, version, 0).value_or(0) == registeredPort)
        call(Unset, program, version, 0);
    registeredPort = 0;
}
