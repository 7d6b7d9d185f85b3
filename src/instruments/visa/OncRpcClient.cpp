#include "instruments/visa/OncRpcClient.h"

#include "instruments/visa/XdrWriter.h"

namespace visa {

namespace {

constexpr std::uint32_t LastFragment = 0x80000000u;

} // namespace

ViStatus OncRpcClient::connect(const std::string &host, std::uint16_t port,
                               const Deadline &deadline)
{
    reader.clear();
    return connection.connect(host, port, deadline);
}

void OncRpcClient::close()
{
    connection.close();
    reader.clear();
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
            close();
        return status;
    }

    for (;;) {
        std::vector<std::uint8_t> record;
        status = readRecord(deadline, record);
        if (status != VI_SUCCESS)
            return status;
        switch (RpcReply::parse(record, xid, results)) {
        case RpcReply::Kind::Accepted:
            return VI_SUCCESS;
        case RpcReply::Kind::OtherCall:
            break;
        case RpcReply::Kind::Refused:
        case RpcReply::Kind::Malformed:
            return VI_ERROR_IO;
        }
        // Late answers to earlier calls do not keep this one waiting.
        if (deadline.expired())
            return VI_ERROR_TMO;
    }
}

ViStatus OncRpcClient::readRecord(const Deadline &deadline, std::vector<std::uint8_t> &record)
{
    bool readOnce = false; // bytes already here are looked at even after the deadline
    for (;;) {
        switch (reader.next(record)) {
        case RpcRecordReader::Result::Record:
            return VI_SUCCESS;
        case RpcRecordReader::Result::Invalid:
            close(); // not a peer we can talk to
            return VI_ERROR_IO;
        case RpcRecordReader::Result::NeedMore:
            break;
        }
        if (readOnce && deadline.expired())
            return VI_ERROR_TMO;
        std::uint8_t chunk[4096];
        std::size_t received = 0;
        const ViStatus status = connection.receive(chunk, sizeof chunk, deadline, received);
        if (status != VI_SUCCESS)
            return status;
        reader.append(chunk, received);
        readOnce = true;
    }
}

} // namespace visa
