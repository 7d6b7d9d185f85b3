#pragma once

#include "tools/benchsim/RpcServer.h"

#include <QList>

// A port mapper over TCP and UDP on one port, so that a client finds the
// VXI-11 core channel as it would on a real instrument: version 2 (GETPORT,
// DUMP) and the rpcbind versions 3 and 4 that libtirpc clients ask first
// (GETADDR, DUMP, GETVERSADDR), for the programs it was told about and for
// itself. Registrations from clients (SET, UNSET) are refused.
class PortMapperServer : public RpcServer
{
    Q_OBJECT

public:
    static constexpr quint32 Program = 100000;
    static constexpr quint32 ProtocolTcp = 6;
    static constexpr quint32 ProtocolUdp = 17;

    using RpcServer::RpcServer;
    // `program` served over TCP on `port` of 127.0.0.1.
    void addMapping(quint32 program, quint32 version, quint16 port);

protected:
    void handleCall(const RpcCall &call) override;
    bool servesDatagrams() const override { return true; }

private:
    struct Mapping
    {
        quint32 program;
        quint32 version;
        quint32 protocol;
        quint16 port;
    };
    QList<Mapping> mappings() const;
    void serveVersion2(const RpcCall &call);
    void serveRpcbind(const RpcCall &call);

    QList<Mapping> added;
};
