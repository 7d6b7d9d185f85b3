#pragma once

#include "RpcServer.h"

#include <QList>

// A port mapper (program 100000, version 2) over TCP that answers GETPORT
// for the programs it was told about, so that a client finds the VXI-11
// core channel as it would on a real instrument.
class PortMapperServer : public RpcServer
{
    Q_OBJECT

public:
    static constexpr quint32 Program = 100000;
    static constexpr quint32 Version = 2;
    static constexpr quint32 ProtocolTcp = 6;

    using RpcServer::RpcServer;
    void addMapping(quint32 program, quint32 version, quint16 port);

protected:
    void handleCall(const RpcCall &call) override;

private:
    struct Mapping
    {
        quint32 program;
        quint32 version;
        quint16 port;
    };
    QList<Mapping> mappings;
};
