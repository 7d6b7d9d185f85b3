#include "PortMapperServer.h"

#include "XdrReader.h"
#include "XdrWriter.h"

void PortMapperServer::addMapping(quint32 program, quint32 version, quint16 port)
{
    mappings.append({program, version, port});
}

void PortMapperServer::handleCall(const RpcCall &call)
{
    if (call.program != Program) {
        reply(call, QByteArray(), ProgramUnavailable);
        return;
    }
    if (call.version != Version) {
        reply(call, XdrWriter().putUint(Version).putUint(Version).data(), ProgramMismatch);
        return;
    }
    enum
    {
        Null = 0,
        GetPort = 3
    };
    if (call.procedure == Null) {
        reply(call, QByteArray());
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
    for (const Mapping &m : mappings) {
        if (m.program == program && m.version == version && protocol == ProtocolTcp)
            port = m.port;
    }
    reply(call, XdrWriter().putUint(port).data());
}
