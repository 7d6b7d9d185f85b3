#include "tools/benchsim/PortMapperServer.h"

#include "tools/benchsim/XdrReader.h"
#include "tools/benchsim/XdrWriter.h"

namespace {

enum Procedure : quint32
{
    Null = 0,
    Set = 1,
    Unset = 2,
    GetPort = 3, // version 2; GETADDR in versions 3 and 4
    Dump = 4,
    GetVersAddr = 9,  // version 4
    GetAddrList = 11, // version 4
};

QString netId(quint32 protocol)
{
    return protocol == PortMapperServer::ProtocolUdp ? "udp" : "tcp";
}

// The universal address of a port on 127.0.0.1: "127.0.0.1.p1.p2".
QByteArray universalAddress(quint16 port)
{
    return QString("127.0.0.1.%1.%2").arg(port >> 8).arg(port & 0xFF).toLatin1();
}

} // namespace

void PortMapperServer::addMapping(quint32 program, quint32 version, quint16 port)
{
    added.append({program, version, ProtocolTcp, port});
}

QList<PortMapperServer::Mapping> PortMapperServer::mappings() const
{
    QList<Mapping> all;
    for (quint32 version : {4u, 3u, 2u}) {
        all.append({Program, version, ProtocolTcp, port()});
        all.append({Program, version, ProtocolUdp, port()});
    }
    return all + added;
}

void PortMapperServer::handleCall(const RpcCall &call)
{
    if (call.program != Program) {
        reply(call, QByteArray(), ProgramUnavailable);
        return;
    }
    if (call.version < 2 || call.version > 4) {
        reply(call, XdrWriter().putUint(2).putUint(4).data(), ProgramMismatch);
        return;
    }
    if (call.procedure == Null) {
        reply(call, QByteArray());
        return;
    }
    if (call.procedure == Set || call.procedure == Unset) {
        reply(call, XdrWriter().putUint(0).data()); // FALSE: nothing changes here
        return;
    }
    if (call.version == 2)
        serveVersion2(call);
    else
        serveRpcbind(call);
}

void PortMapperServer::serveVersion2(const RpcCall &call)
{
    if (call.procedure == Dump) {
        XdrWriter out;
        for (const Mapping &m : mappings())
            out.putUint(1)
                .putUint(m.program)
                .putUint(m.version)
                .putUint(m.protocol)
                .putUint(m.port);
        reply(call, out.putUint(0).data());
        return;
    }
    if (call.procedure != GetPort) {
        reply(call, QByteArray(), ProcedureUnavailable);
        return;
    }
    XdrReader in(call.arguments);
    const quint32 program = in.getUint();
    const quint32 version = in.getUint();
    const quint32 protocol = in.getUint();
    if (!in.ok()) {
        reply(call, QByteArray(), GarbageArguments);
        return;
    }
    quint32 port = 0; // not registered
    for (const Mapping &m : mappings()) {
        if (m.program == program && m.version == version && m.protocol == protocol)
            port = m.port;
    }
    reply(call, XdrWriter().putUint(port).data());
}

void PortMapperServer::serveRpcbind(const RpcCall &call)
{
    if (call.procedure == Dump) {
        XdrWriter out;
        for (const Mapping &m : mappings()) {
            out.putUint(1).putUint(m.program).putUint(m.version);
            out.putOpaque(netId(m.protocol).toLatin1()).putOpaque(universalAddress(m.port));
            out.putOpaque("superuser");
        }
        reply(call, out.putUint(0).data());
        return;
    }
    const bool version4Only = call.procedure == GetVersAddr || call.procedure == GetAddrList;
    if (call.procedure != GetPort && !(version4Only && call.version == 4)) {
        reply(call, QByteArray(), ProcedureUnavailable);
        return;
    }
    XdrReader in(call.arguments);
    const quint32 program = in.getUint();
    const quint32 version = in.getUint();
    const QByteArray netid = in.getOpaque(255);
    in.getOpaque(255); // address of the caller's interest
    in.getOpaque(255); // owner
    if (!in.ok()) {
        reply(call, QByteArray(), GarbageArguments);
        return;
    }
    if (call.procedure == GetAddrList) {
        // Every transport of that version: address, netid, semantics
        // (connectionless 1, connection-oriented 3), family and protocol.
        XdrWriter out;
        for (const Mapping &m : mappings()) {
            if (m.program != program || m.version != version)
                continue;
            out.putUint(1)
                .putOpaque(universalAddress(m.port))
                .putOpaque(netId(m.protocol).toLatin1());
            out.putUint(m.protocol == ProtocolUdp ? 1 : 3).putOpaque("inet");
            out.putOpaque(netId(m.protocol).toLatin1());
        }
        reply(call, out.putUint(0).data());
        return;
    }
    // GETADDR falls back to another version of the program, as rpcbind
    // does; the client learns the versions from the program itself.
    QByteArray exact, other;
    for (const Mapping &m : mappings()) {
        if (m.program != program || netId(m.protocol).toLatin1() != netid)
            continue;
        (m.version == version ? exact : other) = universalAddress(m.port);
    }
    const QByteArray address = !exact.isEmpty() || call.procedure == GetVersAddr ? exact : other;
    reply(call, XdrWriter().putOpaque(address).data());
}
