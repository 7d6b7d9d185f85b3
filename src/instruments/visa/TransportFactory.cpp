#include "instruments/visa/TransportFactory.h"

#include "instruments/visa/GpibTransport.h"
#include "instruments/visa/HislipTransport.h"
#include "instruments/visa/InstrumentSession.h"
#include "instruments/visa/SerialTransport.h"
#include "instruments/visa/SocketTransport.h"
#include "instruments/visa/UsbtmcTransport.h"
#include "instruments/visa/Vxi11Transport.h"

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
    case ResourceName::Kind::Hislip: {
        auto hislip = std::make_unique<HislipTransport>();
        const ViStatus status = hislip->open(name, deadline);
        if (status == VI_SUCCESS)
            transport = std::move(hislip);
        return status;
    }
    case ResourceName::Kind::UsbTmc: {
        auto usb = std::make_unique<UsbtmcTransport>();
        const ViStatus status = usb->open(name);
        if (status == VI_SUCCESS)
            transport = std::move(usb);
        return status;
    }
    case ResourceName::Kind::Gpib: {
        auto gpib = std::make_unique<GpibTransport>();
        const ViStatus status = gpib->open(name, InstrumentSession::DefaultTimeoutMs);
        if (status == VI_SUCCESS)
            transport = std::move(gpib);
        return status;
    }
    case ResourceName::Kind::Asrl: {
        auto serial = std::make_unique<SerialTransport>();
        const ViStatus status = serial->open(name.devicePath);
        if (status == VI_SUCCESS)
            transport = std::move(serial);
        return status;
    }
    default:
        // Valid names of interfaces and classes this library has no transport for.
        return VI_ERROR_NSUP_OPER;
    }
}

} // namespace visa
