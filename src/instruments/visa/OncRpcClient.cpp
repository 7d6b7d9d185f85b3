#include "instruments/visa/OncRpcClient.h"

#include "instruments/visa/XdrReader.h"
#include "instruments/visa/XdrWriter.h"

namespace visa {

namespace {

constexpr std::uint32_t LastFragment = 0x80000000u;
constexpr std::size_t MaxRecord = 1u << 20;

} // namespace

ViStatus OncRpcClient::connect(const std::string &host, std::uint16_t port,
                               const Deadline &deadline)
{
    pending.clear();
    fragments.clear();
    return connection.connect(host, port, deadline);
}

void OncRpcClient::close()
{
    connection.close();
}

ViStatus OncRpcClient::call(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                            const std::vector<std::uint8_t> &arguments, const Deadline &deadline,
                            std::vector<std::uint8_t> &results)
{
    const std::uint32_t xid = nextXid++;
    XdrWriter message;
    message.putUint(0);                         // record mark, filled in below
    message.putUint(xid).putUint(0).putUint(2); // CALL, RPC version 2
    message.putUint(program).putUint(version).putUint(procedure);
    message.putUint(0).putUint(0); // AUTH_NONE credential
    message.putUint(0).putUint(0); // AUTH_NONE verifier
    std::vector<std::uint8_t> bytes = message.data();
    bytes.insert(bytes.end(), arguments.begin(), arguments.end());
    const std::uint32_t mark = LastFragment | static_cast<std::uint32_t>(bytes.size() - 4);
    for (int i = 0; i < 4; ++i)
        bytes[std::size_t(i)] = static_cast<std::uint8_t>(mark >> (24 - 8 * i));

    std::size_t sent = 0;
    ViStatus status = connection.send(bytes.data(), bytes.size(), deadline, sent);
    if (status != VI_SUCCESS) {
        // Half a record would leave the stream out of step.
        if (sent != 0)
            connection.close();
        return status;
    }

    for (;;) {
        std::vector<std::uint8_t> record;
        status = readRecord(deadline, record);
        if (status != VI_SUCCESS)
            return status;
        XdrReader reply(record);
        if (reply.getUint() != xid)
            continue; // the late answer to an earlier call
        const std::uint32_t messageType = reply.getUint();
        const std::uint32_t replyStatus = reply.getUint();
        if (!reply.ok() || messageType != 1 || replyStatus != 0)
            return VI_ERROR_IO; // not a reply, or the call was denied
        reply.getUint();        // verifier flavour
        reply.getOpaque(400);   // verifier body
        const std::uint32_t acceptStatus = reply.getUint();
        if (!reply.ok() || acceptStatus != 0)
            return VI_ERROR_IO;
        results = reply.rest();
        return VI_SUCCESS;
    }
}

ViStatus OncRpcClient::readRecord(const Deadline &deadline, std::vector<std::uint8_t> &record)
{
    for (;;) {
        if (pending.size() >= 4) {
            XdrReader header(pending.data(), 4);
            const std::uint32_t mark = header.getUint();
            const std::size_t length = mark & ~LastFragment;
            if (length > MaxRecord || fragments.size() + length > MaxRecord) {
                connection.close(); // not a peer we can talk to
                return VI_ERROR_IO;
            }
            if (pending.size() >= 4 + length) {
                fragments.insert(fragments.end(), pending.begin() + 4,
                                 pending.begin() + 4 + std::ptrdiff_t(length));
                pending.erase(pending.begin(), pending.begin() + 4 + std::ptrdiff_t(length));
                if (mark & LastFragment) {
                    record.swap(fragments);
                    fragments.clear();
                    return VI_SUCCESS;
                }
                continue;
            }
        }
        std::uint8_t chunk[4096];
        std::size_t received = 0;
        const ViStatus status = connection.receive(chunk, sizeof chunk, deadline, received);
        if (status != VI_SUCCESS)
            return status;
        pending.insert(pending.end(), chunk, chunk + received);
    }
}

} // namespace visa
