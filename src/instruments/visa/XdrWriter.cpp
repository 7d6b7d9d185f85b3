#include "instruments/visa/XdrWriter.h"

namespace visa {

XdrWriter &XdrWriter::putUint(std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    return *this;
}

XdrWriter &XdrWriter::putOpaque(const void *data, std::size_t count)
{
    putUint(static_cast<std::uint32_t>(count));
    const auto *p = static_cast<const std::uint8_t *>(data);
    bytes.insert(bytes.end(), p, p + count);
    bytes.resize(bytes.size() + (4 - count % 4) % 4, 0);
    return *this;
}

} // namespace visa
