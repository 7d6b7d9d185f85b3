#pragma once

#include "instruments/visa/HislipChannel.h"
#include "instruments/visa/ResourceName.h"
#include "instruments/visa/Transport.h"

#include <array>
#include <cstdint>

namespace visa {

// TCPIP INSTR resources over HiSLIP: a synchronous channel for the messages
// (Data, DataEND) and an asynchronous one for device clear, the status byte,
// the lock and remote/local, both to the same port (4880 unless the name
// says "hislipN,port"). Every message we send carries a message id; a reply
// carries the id of the message that asked for it, so after a read timed out
// the rest of that reply, arriving late, is known by its id and dropped.
class HislipTransport : public Transport
{
public:
    static constexpr std::uint16_t DefaultPort = 4880;
    static constexpr std::uint64_t DefaultMaximumMessageSize = 1u << 20;
    // Grace on top of a lock timeout for the instrument's answer.
    static constexpr ViUInt32 ReplyGraceMs = 50;
    // The least payload either channel takes, whatever maximum message size
    // is offered: enough for the instrument's error texts.
    static constexpr std::uint64_t MinPayloadLimit = 4096;

    // `maximumMessageSize` (header included) is offered to the instrument as
    // the largest message it may send us.
    explicit HislipTransport(std::uint64_t maximumMessageSize = DefaultMaximumMessageSize);
    ~HislipTransport() override;

    ViStatus open(const ResourceName &name, const Deadline &deadline);

    ViStatus write(const ViByte *data, std::size_t count, const IoSettings &settings,
                   const Deadline &deadline, std::size_t &written) override;
    ViStatus receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                     const Deadline &deadline) override;
    ViStatus clear(const Deadline &deadline) override;
    ViStatus readStatusByte(ViUInt16 &status, const Deadline &deadline) override;
    ViStatus lockExclusive(const Deadline &deadline) override;
    ViStatus unlock(const Deadline &deadline) override;
    ViStatus controlRemote(ViUInt16 mode, const Deadline &deadline) override;
    // The Trigger message, in the order of the data messages.
    ViStatus assertTrigger(const Deadline &deadline) override;
    void readTimedOut() override;

    // What the instrument told us at open: the largest message it takes
    // (header included), and its protocol version (major << 8 | minor).
    std::uint64_t instrumentMaximumMessageSize() const { return peerMaximumMessageSize; }
    std::uint16_t instrumentProtocolVersion() const { return peerVersion; }

private:
    ViStatus initialize(const ResourceName &name, std::uint16_t port, const Deadline &deadline);
    // Sends on the asynchronous channel and waits there for `answerType`,
    // passing over service requests.
    ViStatus askAsync(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                      std::uint8_t answerType, HislipMessage &answer, const Deadline &deadline,
                      const std::string &payload = std::string());
    ViStatus failed(ViStatus status);
    // VI_ERROR_TMO for a wait on the asynchronous channel that still owes `answerType`.
    ViStatus asyncTimedOut(std::uint8_t answerType);
    bool isStale(std::uint32_t messageId) const;
    std::uint32_t lastSentId() const { return nextMessageId - 2; }
    void resetMessageIds();

    HislipChannel sync;
    HislipChannel async;
    std::uint64_t ownMaximumMessageSize;
    std::uint64_t peerMaximumMessageSize = 0;
    std::uint16_t peerVersion = 0;
    std::uint32_t nextMessageId = 0;
    // Replies to messages up to this id were given up on by a timed-out read.
    bool hasAbandoned = false;
    std::uint32_t abandonedUpTo = 0;
    // A whole reply reached us since our last message: told to the
    // instrument with the next one (RMT-delivered).
    bool replyDelivered = false;
    bool connected = false;
    // Answers still owed on the asynchronous channel to requests that timed
    // out, by message type: they are passed over when they come.
    std::array<unsigned, 256> lateAnswers{};
};

} // namespace visa
