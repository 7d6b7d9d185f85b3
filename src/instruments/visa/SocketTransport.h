#pragma once

#include "TcpConnection.h"
#include "Transport.h"

#include <string>

namespace visa {

// TCPIP SOCKET resources: a raw TCP byte stream. It carries no END
// indicator, so a received '\n' counts as END unless VI_ATTR_SUPPRESS_END_EN
// is set: instruments end every reply with a newline.
class SocketTransport : public Transport
{
public:
    ViStatus open(const std::string &host, std::uint16_t port, const Deadline &deadline);

    ViStatus write(const ViByte *data, std::size_t count, const IoSettings &settings,
                   const Deadline &deadline, std::size_t &written) override;
    ViStatus receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                     const Deadline &deadline) override;
    int endCharacter(const IoSettings &settings) const override;
    ViStatus getAttribute(ViAttr attribute, ViAttrState &value) const override;

private:
    TcpConnection connection;
};

} // namespace visa
