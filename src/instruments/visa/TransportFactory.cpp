#include "TransportFactory.h"

#include "InstrumentSession.h"
#include "SocketTransport.h"

namespace visa {

ViStatus TransportFactory::open(const ResourceName &name, ViUInt32 openTimeoutMs,
                                std::unique_ptr<Transport> &transport)
{
    const Deadline deadline(openTimeoutMs == 0 ? InstrumentSession::DefaultTimeoutMs
                                               : openTimeoutMs);
    switch (name.kind) {
    case ResourceName::Kind::TcpipSocket: {
        auto socket = std::make_unique<SocketTransport>();
        const ViStatus status = socket->open(name.host, name.port, deadline);
        if (status == VI_SUCCESS)
            transport = std::move(socket);
        return status;
    }
    default:
        return VI_ERROR_NSUP_OPER;
    }
}

} // namespace visa
