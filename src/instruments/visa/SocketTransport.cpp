#include "instruments/visa/SocketTransport.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

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

ViStatus SocketTransport::clear(const Deadline &deadline)
{
    // Takes what the peer has sent so far without waiting for more: a reply
    // still on its way arrives later, as nothing on the link tells. A peer
    // that never stops sending cannot be cleared: the deadline ends that.
    char chunk[4096];
    for (;;) {
        std::size_t received = 0;
        const ViStatus status = connection.receive(chunk, sizeof chunk, Deadline(0), received);
        if (status == VI_ERROR_TMO)
            return VI_SUCCESS;
        if (status != VI_SUCCESS)
            return status;
        if (deadline.expired())
            return VI_ERROR_TMO;
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

namespace {

// The socket option behind a SOCKET attribute, or false for another attribute.
bool socketOption(ViAttr attribute, int &level, int &option)
{
    switch (attribute) {
    case VI_ATTR_TCPIP_NODELAY:
        level = IPPROTO_TCP;
        option = TCP_NODELAY;
        return true;
    case VI_ATTR_TCPIP_KEEPALIVE:
        level = SOL_SOCKET;
        option = SO_KEEPALIVE;
        return true;
    default:
        return false;
    }
}

} // namespace

ViStatus SocketTransport::assertTrigger(const Deadline &)
{
    return VI_ERROR_INV_SETUP;
}

ViStatus SocketTransport::setAttribute(ViAttr attribute, ViAttrState value)
{
    int level = 0;
    int option = 0;
    if (!socketOption(attribute, level, option))
        return VI_ERROR_NSUP_ATTR;
    if (value != VI_TRUE && value != VI_FALSE)
        return VI_ERROR_NSUP_ATTR_STATE;
    return connection.setOption(level, option, value == VI_TRUE);
}

ViStatus SocketTransport::getAttribute(ViAttr attribute, ViAttrState &value) const
{
    int level = 0;
    int option = 0;
    if (!socketOption(attribute, level, option))
        return VI_ERROR_NSUP_ATTR;
    bool on = false;
    const ViStatus status = connection.option(level, option, on);
    if (status == VI_SUCCESS)
        value = on ? VI_TRUE : VI_FALSE;
    return status;
}

} // namespace visa
