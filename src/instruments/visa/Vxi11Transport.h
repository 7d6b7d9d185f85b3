#pragma once

#include "instruments/visa/OncRpcClient.h"
#include "instruments/visa/ResourceName.h"
#include "instruments/visa/Transport.h"

#include <cstdint>

namespace visa {

// TCPIP INSTR resources over VXI-11: the core channel is found through the
// port mapper (or given as "host,port"), a link is created to the device
// name, writes carry END on their last byte, and reads ask the instrument
// for at most the bytes the caller still takes (MaxReadRequest at a time),
// with the termination character when it is enabled. Device clear, the
// status byte, the trigger and the instrument's lock are core-channel calls
// of their own.
class Vxi11Transport : public Transport
{
public:
    ~Vxi11Transport() override;

    ViStatus open(const ResourceName &name, const Deadline &deadline);

    ViStatus write(const ViByte *data, std::size_t count, const IoSettings &settings,
                   const Deadline &deadline, std::size_t &written) override;
    ViStatus receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                     const Deadline &deadline) override;
    ViStatus clear(const Deadline &deadline) override;
    ViStatus readStatusByte(ViUInt16 &status, const Deadline &deadline) override;
    // Waits for another link's lock until the deadline: VI_ERROR_TMO when it
    // was not released in time, VI_ERROR_RSRC_LOCKED when there was no time
    // to wait.
    ViStatus lockExclusive(const Deadline &deadline) override;
    ViStatus unlock(const Deadline &deadline) override;
    ViStatus assertTrigger(const Deadline &deadline) override;

    // Grace on top of the instrument's own timeout before the client stops
    // waiting for an RPC reply.
    static constexpr ViUInt32 ReplyGraceMs = 50;
    // How long closing waits for the instrument to answer destroy_link.
    static constexpr ViUInt32 DestroyLinkWaitMs = 500;
    // The most one device_read asks for: its reply fits in the longest
    // record the RPC client takes.
    static constexpr std::uint32_t MaxReadRequest = OncRpcClient::MaxRecord - 1024;

private:
    // A call whose results start with the VXI-11 error; `error` gets it and
    // `results` the whole results.
    ViStatus deviceCall(std::uint32_t procedure, const std::vector<std::uint8_t> &arguments,
                        const Deadline &deadline, std::int32_t &error,
                        std::vector<std::uint8_t> &results);
    ViStatus askPortMapper(const std::string &host, const Deadline &deadline, std::uint16_t &port);

    OncRpcClient rpc;
    std::int32_t linkId = 0;
    bool linked = false;
    std::uint32_t maxReceiveSize = 1024;
};

} // namespace visa
