#include "instruments/visa/HislipTransport.h"

#include <algorithm>

namespace visa {

namespace {

enum MessageType : std::uint8_t
{
    Initialize = 0,
    InitializeResponse = 1,
    FatalError = 2,
    Error = 3,
    AsyncLock = 4,
    AsyncLockResponse = 5,
    Data = 6,
    DataEnd = 7,
    DeviceClearComplete = 8,
    DeviceClearAcknowledge = 9,
    AsyncRemoteLocalControl = 10,
    AsyncRemoteLocalResponse = 11,
    Trigger = 12,
    AsyncMaximumMessageSize = 15,
    AsyncMaximumMessageSizeResponse = 16,
    AsyncInitialize = 17,
    AsyncInitializeResponse = 18,
    AsyncDeviceClear = 19,
    AsyncStatusQuery = 21,
    AsyncStatusResponse = 22,
    AsyncDeviceClearAcknowledge = 23,
};

constexpr std::uint16_t ProtocolVersion = 0x0100; // 1.0: all we use
constexpr std::uint16_t VendorId = 'B' << 8 | 'T';
constexpr std::uint32_t FirstMessageId = 0xFFFFFF00;

enum LockControl : std::uint8_t
{
    Release = 0,
    Request = 1,
};
enum LockAnswer : std::uint8_t
{
    LockFailed = 0,
    LockSuccess = 1,
    SharedReleased = 2,
};
constexpr ViUInt16 LastRemoteLocalMode = 6; // the codes are viGpibControlREN's modes

std::string bigEndian64(std::uint64_t value)
{
    std::string bytes(8, '\0');
    for (int i = 7; i >= 0; --i, value >>= 8)
        bytes[std::size_t(i)] = static_cast<char>(value & 0xFF);
    return bytes;
}

std::uint64_t fromBigEndian64(const std::string &bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8 && i < bytes.size(); ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

} // namespace

HislipTransport::HislipTransport(std::uint64_t maximumMessageSize)
    : sync(std::max(maximumMessageSize, MinPayloadLimit + HislipChannel::HeaderSize) -
           HislipChannel::HeaderSize),
      async(MinPayloadLimit), ownMaximumMessageSize(std::max<std::uint64_t>(
                                  maximumMessageSize, HislipChannel::HeaderSize + 1))
{
    resetMessageIds();
}

HislipTransport::~HislipTransport()
{
    // The instrument ends the session, and drops its lock, when the
    // channels close; the asynchronous one goes first.
    async.close();
    sync.close();
}

void HislipTransport::resetMessageIds()
{
    nextMessageId = FirstMessageId;
    hasAbandoned = false;
    replyDelivered = false;
}

bool HislipTransport::isStale(std::uint32_t messageId) const
{
    // Ids wrap around: compare by distance, as sequence numbers are.
    return hasAbandoned && static_cast<std::int32_t>(messageId - abandonedUpTo) <= 0;
}

ViStatus HislipTransport::failed(ViStatus status)
{
    if (status != VI_ERROR_TMO) {
        sync.close();
        async.close();
        connected = false;
    }
    return status;
}

ViStatus HislipTransport::open(const ResourceName &name, const Deadline &deadline)
{
    const std::uint16_t port = name.port != 0 ? name.port : DefaultPort;
    const ViStatus status = initialize(name, port, deadline);
    if (status != VI_SUCCESS) {
        failed(VI_ERROR_IO);
        return status == VI_ERROR_TMO || status == VI_ERROR_CONN_LOST ? VI_ERROR_RSRC_NFOUND
                                                                      : status;
    }
    connected = true;
    return VI_SUCCESS;
}

ViStatus HislipTransport::initialize(const ResourceName &name, std::uint16_t port,
                                     const Deadline &deadline)
{
    ViStatus status = sync.connect(name.host, port, deadline);
    if (status != VI_SUCCESS)
        return status;
    status = sync.send(Initialize, 0, std::uint32_t(ProtocolVersion) << 16 | VendorId, deadline,
                       name.deviceName.data(), name.deviceName.size());
    HislipMessage answer;
    if (status == VI_SUCCESS)
        status = sync.receive(answer, deadline);
    if (status != VI_SUCCESS)
        return status;
    if (answer.type == FatalError)
        return VI_ERROR_RSRC_NFOUND; // no such sub-address, or no room for us
    if (answer.type != InitializeResponse)
        return VI_ERROR_IO;
    peerVersion = static_cast<std::uint16_t>(answer.parameter >> 16);
    const std::uint16_t sessionId = static_cast<std::uint16_t>(answer.parameter & 0xFFFF);

    status = async.connect(name.host, port, deadline);
    if (status != VI_SUCCESS)
        return status;
    status = askAsync(AsyncInitialize, 0, sessionId, AsyncInitializeResponse, answer, deadline);
    if (status != VI_SUCCESS)
        return status;
    status = askAsync(AsyncMaximumMessageSize, 0, 0, AsyncMaximumMessageSizeResponse, answer,
                      deadline, bigEndian64(ownMaximumMessageSize));
    if (status != VI_SUCCESS)
        return status;
    if (answer.payload.size() != 8)
        return VI_ERROR_IO;
    peerMaximumMessageSize = fromBigEndian64(answer.payload);
    return VI_SUCCESS;
}

ViStatus HislipTransport::askAsync(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                                   std::uint8_t answerType, HislipMessage &answer,
                                   const Deadline &deadline, const std::string &payload)
{
    ViStatus status =
        async.send(type, control, parameter, deadline, payload.data(), payload.size());
    if (status != VI_SUCCESS)
        return status;
    for (;;) {
        status = async.receive(answer, deadline);
        if (status != VI_SUCCESS)
            return status == VI_ERROR_TMO ? asyncTimedOut(answerType) : status;
        if (lateAnswers[answer.type] > 0) {
            --lateAnswers[answer.type]; // the answer to a request we stopped waiting for
        } else if (answer.type == answerType) {
            return VI_SUCCESS;
        } else if (answer.type == FatalError) {
            return failed(VI_ERROR_IO);
        } else if (answer.type == Error) {
            return VI_ERROR_IO; // the instrument did not take the request
        }
        // Anything else (a service request) is not waited for here, and no
        // stream of such messages keeps the wait going past the deadline.
        if (deadline.expired())
            return asyncTimedOut(answerType);
    }
}

ViStatus HislipTransport::asyncTimedOut(std::uint8_t answerType)
{
    ++lateAnswers[answerType];
    return VI_ERROR_TMO;
}

ViStatus HislipTransport::write(const ViByte *data, std::size_t count, const IoSettings &settings,
                                const Deadline &deadline, std::size_t &written)
{
    written = 0;
    if (!connected)
        return VI_ERROR_CONN_LOST;
    // The instrument's limit counts the header too.
    const std::size_t most = static_cast<std::size_t>(
        std::max<std::uint64_t>(peerMaximumMessageSize, HislipChannel::HeaderSize + 1) -
        HislipChannel::HeaderSize);
    do {
        const std::size_t chunk = std::min(count - written, most);
        const bool last = written + chunk == count;
        const ViStatus status =
            sync.send(last && settings.sendEnd ? DataEnd : Data, replyDelivered ? 1 : 0,
                      nextMessageId, deadline, data + written, chunk);
        if (status != VI_SUCCESS)
            return failed(status);
        replyDelivered = false;
        nextMessageId += 2;
        written += chunk;
    } while (written < count);
    return VI_SUCCESS;
}

ViStatus HislipTransport::receive(InputBuffer &in, std::size_t, const IoSettings &,
                                  const Deadline &deadline)
{
    if (!connected)
        return VI_ERROR_CONN_LOST;
    for (;;) {
        HislipMessage message;
        const ViStatus status = sync.receive(message, deadline);
        if (status == VI_ERROR_TMO)
            readTimedOut();
        if (status != VI_SUCCESS)
            return failed(status);
        switch (message.type) {
        case Data:
        case DataEnd: {
            if (isStale(message.parameter))
                break;
            const bool end = message.type == DataEnd;
            in.append(message.payload.data(), message.payload.size(), end);
            replyDelivered = replyDelivered || end;
            // An empty DataEND still ends what earlier Data brought.
            if (!message.payload.empty() || (end && in.size() > 0))
                return VI_SUCCESS;
            break;
        }
        case FatalError:
            return failed(VI_ERROR_IO);
        case Error:
            return VI_ERROR_IO; // a message of ours the instrument could not take
        default:
            break; // Interrupted and the like: nothing for the reader
        }
        // Nothing for the reader: stale parts, empty messages and unknown
        // types do not keep the read going past its deadline.
        if (deadline.expired()) {
            readTimedOut();
            return VI_ERROR_TMO;
        }
    }
}

void HislipTransport::readTimedOut()
{
    // Whatever still comes for what we asked so far is too late.
    hasAbandoned = true;
    abandonedUpTo = lastSentId();
}

ViStatus HislipTransport::clear(const Deadline &deadline)
{
    if (!connected)
        return VI_ERROR_CONN_LOST;
    HislipMessage answer;
    ViStatus status =
        askAsync(AsyncDeviceClear, 0, 0, AsyncDeviceClearAcknowledge, answer, deadline);
    if (status != VI_SUCCESS)
        return failed(status);
    // Echo the instrument's preferred mode; everything before its
    // acknowledgement on the synchronous channel belongs to the old exchange.
    status = sync.send(DeviceClearComplete, answer.control, 0, deadline);
    while (status == VI_SUCCESS) {
        status = sync.receive(answer, deadline);
        if (status == VI_SUCCESS && answer.type == DeviceClearAcknowledge)
            break;
        if (status == VI_SUCCESS && deadline.expired())
            status = VI_ERROR_TMO;
    }
    if (status != VI_SUCCESS)
        return failed(status);
    resetMessageIds();
    return VI_SUCCESS;
}

ViStatus HislipTransport::assertTrigger(const Deadline &deadline)
{
    if (!connected)
        return VI_ERROR_CONN_LOST;
    const ViStatus status = sync.send(Trigger, replyDelivered ? 1 : 0, nextMessageId, deadline);
    if (status != VI_SUCCESS)
        return failed(status);
    replyDelivered = false;
    nextMessageId += 2;
    return VI_SUCCESS;
}

ViStatus HislipTransport::readStatusByte(ViUInt16 &statusByte, const Deadline &deadline)
{
    if (!connected)
        return VI_ERROR_CONN_LOST;
    HislipMessage answer;
    const ViStatus status = askAsync(AsyncStatusQuery, replyDelivered ? 1 : 0, lastSentId(),
                                     AsyncStatusResponse, answer, deadline);
    if (status != VI_SUCCESS)
        return failed(status);
    replyDelivered = false;
    statusByte = answer.control;
    return VI_SUCCESS;
}

ViStatus HislipTransport::lockExclusive(const Deadline &deadline)
{
    if (!connected)
        return VI_ERROR_CONN_LOST;
    // The instrument waits up to the timeout for the lock; an empty lock
    // string asks for the exclusive one.
    HislipMessage answer;
    const ViStatus status = askAsync(AsyncLock, Request, deadline.remainingMs(), AsyncLockResponse,
                                     answer, deadline.extendedBy(ReplyGraceMs));
    if (status != VI_SUCCESS)
        return failed(status);
    if (answer.control == LockSuccess)
        return VI_SUCCESS;
    return answer.control == LockFailed ? VI_ERROR_TMO : VI_ERROR_IO;
}

ViStatus HislipTransport::unlock(const Deadline &deadline)
{
    if (!connected)
        return VI_ERROR_CONN_LOST;
    HislipMessage answer;
    const ViStatus status =
        askAsync(AsyncLock, Release, lastSentId(), AsyncLockResponse, answer, deadline);
    if (status != VI_SUCCESS)
        return failed(status);
    return answer.control == LockSuccess || answer.control == SharedReleased ? VI_SUCCESS
                                                                             : VI_ERROR_IO;
}

ViStatus HislipTransport::controlRemote(ViUInt16 mode, const Deadline &deadline)
{
    if (mode > LastRemoteLocalMode)
        return VI_ERROR_INV_PARAMETER;
    if (!connected)
        return VI_ERROR_CONN_LOST;
    HislipMessage answer;
    const ViStatus status = askAsync(AsyncRemoteLocalControl, static_cast<std::uint8_t>(mode),
                                     lastSentId(), AsyncRemoteLocalResponse, answer, deadline);
    return status == VI_SUCCESS ? VI_SUCCESS : failed(status);
}

} // namespace visa
