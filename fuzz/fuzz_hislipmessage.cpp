// The HiSLIP message reader of the client, on the bytes of a hostile
// instrument, appended in pieces of the sizes the input chooses. Every
// message it hands out is framed exactly as it came, stays within the
// payload limit, and nothing is handed out past a refused message.
#include "fuzz/FuzzCheck.h"
#include "instruments/visa/HislipMessageReader.h"

#include <cstdint>
#include <string>

using visa::HislipMessage;
using visa::HislipMessageReader;

static std::string framed(const HislipMessage &message)
{
    std::string bytes = "HS";
    bytes.push_back(static_cast<char>(message.type));
    bytes.push_back(static_cast<char>(message.control));
    for (int i = 3; i >= 0; --i)
        bytes.push_back(static_cast<char>(message.parameter >> (8 * i) & 0xFF));
    const std::uint64_t length = message.payload.size();
    for (int i = 7; i >= 0; --i)
        bytes.push_back(static_cast<char>(length >> (8 * i) & 0xFF));
    return bytes + message.payload;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte sets the payload limit, the second the piece size.
    const std::uint64_t limit = data[0];
    const std::size_t piece = 1 + data[1] % 32;
    const std::string stream(reinterpret_cast<const char *>(data) + 2, size - 2);

    HislipMessageReader reader(limit);
    std::size_t appended = 0;
    std::size_t consumed = 0;
    while (appended < stream.size()) {
        const std::size_t count = std::min(piece, stream.size() - appended);
        reader.append(stream.data() + appended, count);
        appended += count;
        HislipMessage message;
        HislipMessageReader::Result result;
        while ((result = reader.next(message)) == HislipMessageReader::Result::Message) {
            FUZZ_CHECK(message.payload.size() <= limit);
            const std::string bytes = framed(message);
            FUZZ_CHECK(stream.compare(consumed, bytes.size(), bytes) == 0);
            consumed += bytes.size();
        }
        FUZZ_CHECK(consumed + reader.buffered() == appended);
        if (result == HislipMessageReader::Result::Invalid) {
            // A refused stream stays refused.
            FUZZ_CHECK(reader.next(message) == HislipMessageReader::Result::Invalid);
            return 0;
        }
        // What waits is never more than one header, one payload and a piece.
        FUZZ_CHECK(reader.buffered() <= HislipMessageReader::HeaderSize + limit + piece);
    }
    return 0;
}
