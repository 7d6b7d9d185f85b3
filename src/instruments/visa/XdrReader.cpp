#include "instruments/visa/XdrReader.h"

namespace visa {

std::uint32_t XdrReader::getUint()
{
    if (!good || size - offset < 4) {
        good = false;
        return 0;
    }
    const std::uint8_t *p = data + offset;
    offset += 4;
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

std::vector<std::uint8_t> XdrReader::getOpaque(std::size_t maxLength)
{
    const std::size_t length = getUint();
    const std::size_t padded = length + (4 - length % 4) % 4;
    if (!good || length > maxLength || size - offset < padded) {
        good = false;
        return {};
    }
    std::vector<std::uint8_t> bytes(data + offset, data + offset + length);
    offset += padded;
    return bytes;
}

void XdrReader::skip(std::size_t count)
{
    if (!good || size - offset < count) {
        good = false;
        return;
    }
    offset += count;
}

std::vector<std::uint8_t> XdrReader::rest() const
{
    if (!good)
        return {};
    return std::vector<std::uint8_t>(data + offset, data + size);
}

} // namespace visa
