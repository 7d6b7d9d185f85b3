#include "instruments/visa/SocketTransport.h"

namespace visa {

ViStatus SocketTransport::open(const std::string &host, std::uint16_t port,
                               const Deadline &deadline)
{
    return connection.connect(host, port, deadline);
}

ViStatus SocketTransport::write(const ViByte *data, std::size_t count, const IoSettings &,
                                const Deadline &deadline, std::size_t &written)
{
    return connection.send(data, count, deadline, written);
}

ViStatus SocketTransport::receive(InputBuffer &in, std::size_t, const IoSettings &,
                                  const Deadline &deadline)
{
    // Take whatever has arrived: bytes beyond this read stay buffered.
    char chunk[4096];
    std::size_t received = 0;
    const ViStatus status = connection.receive(chunk, sizeof chunk, deadline, received);
    if (status == VI_SUCCESS)
        in.append(chunk, received);
    return status;
}

ViStatus SocketTransport::clear(const Deadline &)
{
    // Takes what the peer has sent so far without waiting for more: a reply
    // still on its way arrives later, as nothing on the link tells.
    char chunk[4096];
    for (;;) {
        std::size_t received = 0;
        const ViStatus status = connection.receive(chunk, sizeof chunk, Deadline(0), received);
        if (status == VI_ERROR_TMO)
            return VI_SUCCESS;
        if (status != VI_SUCCESS)
            return status;
    }
}

ViStatus SocketTransport::readStatusByte(ViUInt16 &, const Deadline &)
{
    return VI_ERROR_INV_SETUP;
}

int SocketTransport::endCharacter(const IoSettings &settings) const
{
    return settings.suppressEnd ? -1 : '\n';
}

ViStatus SocketTransport::getAttribute(ViAttr attribute, ViAttrState &value) const
{
    if (attribute != VI_ATTR_TCPIP_NODELAY)
        return VI_ERROR_NSUP_ATTR;
    value = VI_TRUE;
    return VI_SUCCESS;
}

} // namespace visa
