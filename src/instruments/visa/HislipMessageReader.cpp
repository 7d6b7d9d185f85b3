#include "instruments/visa/HislipMessageReader.h"

namespace visa {

namespace {

std::uint64_t bigEndian(const std::string &bytes, std::size_t offset, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

} // namespace

HislipMessageReader::Result HislipMessageReader::next(HislipMessage &message)
{
    if (pending.size() >= 2 && pending.compare(0, 2, "HS") != 0)
        return Result::Invalid;
    if (pending.size() < HeaderSize)
        return Result::NeedMore;
    const std::uint64_t length = bigEndian(pending, 8, 8);
    if (length > limit)
        return Result::Invalid;
    if (pending.size() - HeaderSize < length)
        return Result::NeedMore;
    message.type = static_cast<std::uint8_t>(pending[2]);
    message.control = static_cast<std::uint8_t>(pending[3]);
    message.parameter = static_cast<std::uint32_t>(bigEndian(pending, 4, 4));
    message.payload.assign(pending, HeaderSize, static_cast<std::size_t>(length));
    pending.erase(0, HeaderSize + static_cast<std::size_t>(length));
    return Result::Message;
}

} // namespace visa
