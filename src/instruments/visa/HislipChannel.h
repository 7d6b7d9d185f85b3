#pragma once

#include "instruments/visa/TcpConnection.h"

#include <cstdint>
#include <string>

namespace visa {

// One HiSLIP message: the 16-byte header ("HS", type, control code, a 32-bit
// parameter, a 64-bit payload length, all big-endian) and its payload.
struct HislipMessage
{
    std::uint8_t type = 0;
    std::uint8_t control = 0;
    std::uint32_t parameter = 0;
    std::string payload;
};

// One of the two TCP connections of a HiSLIP session, cut into messages.
// A message that the deadline cuts in half is kept for the next receive,
// so a timeout never breaks the framing.
class HislipChannel
{
public:
    static constexpr std::size_t HeaderSize = 16;
    // Larger payloads are taken for a broken peer rather than buffered.
    static constexpr std::uint64_t PayloadLimit = 64u << 20;

    ViStatus connect(const std::string &host, std::uint16_t port, const Deadline &deadline)
    {
        pending.clear();
        return connection.connect(host, port, deadline);
    }
    // Sends a whole message; a send cut off inside it closes the channel,
    // since the peer could no longer find the next header.
    ViStatus send(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                  const Deadline &deadline, const void *payload = nullptr, std::size_t size = 0);
    // The next message: VI_ERROR_TMO when none was whole before the deadline,
    // VI_ERROR_IO (and the channel closed) for bytes that are not HiSLIP.
    ViStatus receive(HislipMessage &message, const Deadline &deadline);
    void close();

private:
    bool takeMessage(HislipMessage &message, ViStatus &status);

    TcpConnection connection;
    std::string pending; // received bytes not yet a whole message
};

} // namespace visa
