#pragma once

#include "instruments/visa/Deadline.h"
#include "instruments/visa/RpcRecord.h"
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
    // The longest reply record taken; a longer one ends the connection.
    static constexpr std::size_t MaxRecord = 1u << 20;

    ViStatus connect(const std::string &host, std::uint16_t port, const Deadline &deadline);
    // Sends the call and waits for its reply until the deadline, however
    // fast other records keep coming. `results` gets the procedure's
    // results. VI_ERROR_IO for a rejected call or a broken stream.
    ViStatus call(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                  const std::vector<std::uint8_t> &arguments, const Deadline &deadline,
                  std::vector<std::uint8_t> &results);
    void close();

private:
    ViStatus readRecord(const Deadline &deadline, std::vector<std::uint8_t> &record);

    TcpConnection connection;
    RpcRecordReader reader{MaxRecord};
    std::uint32_t nextXid = 0x42000001;
};

} // namespace visa
