#pragma once

#include <cstddef>
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

// Cuts the bytes received on one HiSLIP connection into messages. It never
// holds more than one header, one payload of at most `payloadLimit` bytes and
// the last piece appended: a longer payload is refused before it is buffered.
class HislipMessageReader
{
public:
    static constexpr std::size_t HeaderSize = 16;

    enum class Result
    {
        Message,  // `message` holds the next message
        NeedMore, // no whole message yet
        Invalid,  // not HiSLIP, or a payload over the limit: the stream is lost
    };

    explicit HislipMessageReader(std::uint64_t payloadLimit) : limit(payloadLimit) {}

    void append(const char *data, std::size_t count) { pending.append(data, count); }
    Result next(HislipMessage &message);
    void clear() { pending.clear(); }
    std::size_t buffered() const { return pending.size(); }
    std::uint64_t payloadLimit() const { return limit; }

private:
    std::uint64_t limit;
    std::string pending; // received bytes not yet a whole message
};

} // namespace visa
