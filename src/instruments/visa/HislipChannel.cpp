#include "instruments/visa/HislipChannel.h"

namespace visa {

namespace {

std::uint64_t bigEndian(const std::string &bytes, std::size_t offset, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

void appendBigEndian(std::string &bytes, std::uint64_t value, std::size_t count)
{
    for (std::size_t i = count; i-- > 0;)
        bytes.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

} // namespace

ViStatus HislipChannel::send(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                             const Deadline &deadline, const void *payload, std::size_t size)
{
    std::string frame = "HS";
    frame.reserve(HeaderSize + size);
    frame.push_back(static_cast<char>(type));
    frame.push_back(static_cast<char>(control));
    appendBigEndian(frame, parameter, 4);
    appendBigEndian(frame, size, 8);
    if (size > 0)
        frame.append(static_cast<const char *>(payload), size);
    std::size_t sent = 0;
    const ViStatus status = connection.send(frame.data(), frame.size(), deadline, sent);
    if (status != VI_SUCCESS && sent > 0)
        close();
    return status;
}

ViStatus HislipChannel::receive(HislipMessage &message, const Deadline &deadline)
{
    for (;;) {
        ViStatus status = VI_SUCCESS;
        if (takeMessage(message, status))
            return status;
        char chunk[16384];
        std::size_t received = 0;
        status = connection.receive(chunk, sizeof chunk, deadline, received);
        if (status != VI_SUCCESS)
            return status;
        pending.append(chunk, received);
    }
}

bool HislipChannel::takeMessage(HislipMessage &message, ViStatus &status)
{
    if (pending.size() < HeaderSize)
        return false;
    const std::uint64_t length = bigEndian(pending, 8, 8);
    if (pending.compare(0, 2, "HS") != 0 || length > PayloadLimit) {
        close();
        status = VI_ERROR_IO;
        return true;
    }
    if (pending.size() - HeaderSize < length)
        return false;
    message.type = static_cast<std::uint8_t>(pending[2]);
    message.control = static_cast<std::uint8_t>(pending[3]);
    message.parameter = static_cast<std::uint32_t>(bigEndian(pending, 4, 4));
    message.payload = pending.substr(HeaderSize, length);
    pending.erase(0, HeaderSize + length);
    status = VI_SUCCESS;
    return true;
}

void HislipChannel::close()
{
    connection.close();
    pending.clear();
}

} // namespace visa
