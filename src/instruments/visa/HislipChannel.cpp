#include "instruments/visa/HislipChannel.h"

namespace visa {

namespace {

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
    // Bytes already here are looked at even after the deadline; once more
    // had to be read, the deadline ends the wait however fast they come.
    bool readOnce = false;
    for (;;) {
        switch (reader.next(message)) {
        case HislipMessageReader::Result::Message:
            return VI_SUCCESS;
        case HislipMessageReader::Result::Invalid:
            close();
            return VI_ERROR_IO;
        case HislipMessageReader::Result::NeedMore:
            break;
        }
        if (readOnce && deadline.expired())
            return VI_ERROR_TMO;
        char chunk[16384];
        std::size_t received = 0;
        const ViStatus status = connection.receive(chunk, sizeof chunk, deadline, received);
        if (status != VI_SUCCESS)
            return status;
        reader.append(chunk, received);
        readOnce = true;
    }
}

void HislipChannel::close()
{
    connection.close();
    reader.clear();
}

} // namespace visa
