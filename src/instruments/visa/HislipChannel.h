#pragma once

#include "instruments/visa/HislipMessageReader.h"
#include "instruments/visa/TcpConnection.h"

#include <cstdint>
#include <string>

namespace visa {

// One of the two TCP connections of a HiSLIP session, cut into messages.
// A message that the deadline cuts in half is kept for the next receive,
// so a timeout never breaks the framing.
class HislipChannel
{
public:
    static constexpr std::size_t HeaderSize = HislipMessageReader::HeaderSize;

    // Payloads over `payloadLimit` bytes are taken for a broken peer rather
    // than buffered.
    explicit HislipChannel(std::uint64_t payloadLimit) : reader(payloadLimit) {}

    ViStatus connect(const std::string &host, std::uint16_t port, const Deadline &deadline)
    {
        reader.clear();
        return connection.connect(host, port, deadline);
    }
    // Sends a whole message; a send cut off inside it closes the channel,
    // since the peer could no longer find the next header.
    ViStatus send(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                  const Deadline &deadline, const void *payload = nullptr, std::size_t size = 0);
    // The next message: VI_ERROR_TMO when none was whole before the deadline
    // (however fast bytes keep coming), VI_ERROR_IO (and the channel closed)
    // for bytes that are not HiSLIP or a payload over the limit.
    ViStatus receive(HislipMessage &message, const Deadline &deadline);
    void close();

private:
    TcpConnection connection;
    HislipMessageReader reader;
};

} // namespace visa
