#include "TransportFactory.h"

#include "InstrumentSession.h"
#include "SocketTransport.h"
#include "Vxi11Transport.h"

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
    case ResourceName::Kind::Vxi11: {
        auto vxi11 = std::make_unique<Vxi11Transport>();
        const ViStatus status = vxi11->open(name, deadline);
        if (status == VI_SUCCESS)
            transport = std::move(vxi11);
        return status;
    }
    case ResourceName::Kind::Hislip:
        return VI_ERROR_NSUP_OPER; // not implemented yet
    default:
        return VI_ERROR_NSUP_OPER;
    }
}

} // namespace visa
