#pragma once

#include "instruments/visa/Deadline.h"
#include "instruments/visa/TcpConnection.h"
#include "instruments/visa/visa.h"

#include <cstdint>
#include <string>
#include <vector>

namespace visa {

// ONC RPC (RFC 5531) calls over one TCP connection with record marking.
// A reply that comes after its call gave up is recognised by its
// transaction id and dropped.
class OncRpcClient
{
public:
    ViStatus connect(const std::string &host, std::uint16_t port, const Deadline &deadline);
    // Sends the call and waits for its reply until the deadline. `results`
    // gets the procedure's results. VI_ERROR_IO for a rejected call.
    ViStatus call(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                  const std::vector<std::uint8_t> &arguments, const Deadline &deadline,
                  std::vector<std::uint8_t> &results);
    void close();

private:
    ViStatus readRecord(const Deadline &deadline, std::vector<std::uint8_t> &record);

    TcpConnection connection;
    std::vector<std::uint8_t> pending;   // received, not yet a whole fragment
    std::vector<std::uint8_t> fragments; // fragments of the record being read
    std::uint32_t nextXid = 0x42000001;
};

} // namespace visa
