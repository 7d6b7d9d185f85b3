#pragma once

#include "instruments/visa/TcpConnection.h"
#include "instruments/visa/Transport.h"

#include <string>

namespace visa {

// TCPIP SOCKET resources: a raw TCP byte stream. It carries no END
// indicator, so a received '\n' counts as END unless VI_ATTR_SUPPRESS_END_EN
// is set: instruments end every reply with a newline. A raw socket has no
// device clear and no status byte beside the data: clear drops what has
// arrived, and the session speaks *CLS and *STB? when VI_ATTR_IO_PROT asks.
class SocketTransport : public Transport
{
public:
    ViStatus open(const std::string &host, std::uint16_t port, const Deadline &deadline);

    ViStatus write(const ViByte *data, std::size_t count, const IoSettings &settings,
                   const Deadline &deadline, std::size_t &written) override;
    ViStatus receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                     const Deadline &deadline) override;
    int endCharacter(const IoSettings &settings) const override;
    ViStatus clear(const Deadline &deadline) override;
    // No status byte beside the data: VI_ERROR_INV_SETUP, as VISA has it
    // unless the session reads one with *STB? (VI_PROT_4882_STRS).
    ViStatus readStatusByte(ViUInt16 &statusByte, const Deadline &deadline) override;
    // No trigger beside the data either: VI_ERROR_INV_SETUP, as for the status byte.
    ViStatus assertTrigger(const Deadline &deadline) override;
    // VI_ATTR_TCPIP_NODELAY and VI_ATTR_TCPIP_KEEPALIVE, on the socket itself.
    ViStatus setAttribute(ViAttr attribute, ViAttrState value) override;
    ViStatus getAttribute(ViAttr attribute, ViAttrState &value) const override;

private:
    TcpConnection connection;
};

} // namespace visa
