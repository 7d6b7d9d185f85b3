#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace visa {

// Encodes the XDR types ONC RPC and VXI-11 use: big-endian 32-bit words and
// variable-length opaque data padded to a multiple of four bytes.
class XdrWriter
{
public:
    XdrWriter &putUint(std::uint32_t value);
    XdrWriter &putInt(std::int32_t value) { return putUint(static_cast<std::uint32_t>(value)); }
    XdrWriter &putOpaque(const void *data, std::size_t count);
    const std::vector<std::uint8_t> &data() const { return bytes; }

private:
    std::vector<std::uint8_t> bytes;
};

} // namespace visa
