#pragma once

#include "instruments/visa/Deadline.h"
#include "instruments/visa/visa.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace visa {

// A TCP client connection with every wait bounded by a deadline. Once the
// peer has gone, every call fails with VI_ERROR_CONN_LOST at once.
class TcpConnection
{
public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection &) = delete;
    TcpConnection &operator=(const TcpConnection &) = delete;

    // VI_SUCCESS, or VI_ERROR_RSRC_NFOUND when the host is unknown, refuses,
    // or does not accept before the deadline.
    ViStatus connect(const std::string &host, std::uint16_t port, const Deadline &deadline);
    // Sends all `count` bytes by the deadline, however slowly the peer takes them.
    ViStatus send(const void *data, std::size_t count, const Deadline &deadline, std::size_t &sent);
    // Waits for the first byte until the deadline, then takes what is there.
    ViStatus receive(void *buffer, std::size_t capacity, const Deadline &deadline,
                     std::size_t &received);
    void close();

    // A boolean socket option (TCP_NODELAY, SO_KEEPALIVE): set, or read back.
    ViStatus setOption(int level, int option, bool on);
    ViStatus option(int level, int option, bool &on) const;

private:
    ViStatus connectTo(const void *address, unsigned addressLength, const Deadline &deadline);
    ViStatus lost();

    int fd = -1;
};

} // namespace visa
