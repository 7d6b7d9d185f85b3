#include "SocketTransport.h"

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
