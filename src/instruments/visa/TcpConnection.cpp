#include "instruments/visa/TcpConnection.h"

#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace visa {

TcpConnection::~TcpConnection()
{
    close();
}

void TcpConnection::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

ViStatus TcpConnection::lost()
{
    close();
    return VI_ERROR_CONN_LOST;
}

ViStatus TcpConnection::connect(const std::string &host, std::uint16_t port,
                                const Deadline &deadline)
{
    close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return VI_ERROR_RSRC_NFOUND;

    ViStatus status = VI_ERROR_RSRC_NFOUND;
    for (addrinfo *a = found; a != nullptr && !deadline.expired(); a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        status = connectTo(a->ai_addr, a->ai_addrlen, deadline);
        if (status == VI_SUCCESS)
            break;
        close();
    }
    ::freeaddrinfo(found);
    if (status != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;

    // Commands are short lines; send each at once.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    return VI_SUCCESS;
}

ViStatus TcpConnection::connectTo(const void *address, unsigned addressLength,
                                  const Deadline &deadline)
{
    if (::connect(fd, static_cast<const sockaddr *>(address), addressLength) == 0)
        return VI_SUCCESS;
    if (errno != EINPROGRESS && errno != EINTR)
        return VI_ERROR_RSRC_NFOUND;
    if (!deadline.waitFor(fd, POLLOUT))
        return VI_ERROR_TMO;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        return VI_ERROR_RSRC_NFOUND;
    return VI_SUCCESS;
}

ViStatus TcpConnection::send(const void *data, std::size_t count, const Deadline &deadline,
                             std::size_t &sent)
{
    sent = 0;
    if (fd < 0)
        return VI_ERROR_CONN_LOST;
    const char *bytes = static_cast<const char *>(data);
    while (sent < count) {
        // MSG_NOSIGNAL: a peer that has gone must not kill the process with SIGPIPE.
        const ssize_t n = ::send(fd, bytes + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            if (sent < count && deadline.expired())
                return VI_ERROR_TMO;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!deadline.waitFor(fd, POLLOUT))
                return VI_ERROR_TMO;
            continue;
        }
        if (n < 0 &&
            (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN || errno == ETIMEDOUT))
            return lost();
        return VI_ERROR_IO;
    }
    return VI_SUCCESS;
}

ViStatus TcpConnection::receive(void *buffer, std::size_t capacity, const Deadline &deadline,
                                std::size_t &received)
{
    received = 0;
    if (fd < 0)
        return VI_ERROR_CONN_LOST;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, capacity, MSG_DONTWAIT);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return VI_SUCCESS;
        }
        if (n == 0)
            return lost(); // orderly shutdown by the peer
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!deadline.waitFor(fd, POLLIN))
                return VI_ERROR_TMO;
            continue;
        }
        if (errno == ECONNRESET || errno == ENOTCONN || errno == ETIMEDOUT || errno == EPIPE)
            return lost();
        return VI_ERROR_IO;
    }
}

} // namespace visa

namespace visa {

ViStatus TcpConnection::setOption(int level, int name, bool on)
{
    if (fd < 0)
        return VI_ERROR_CONN_LOST;
    const int value = on ? 1 : 0;
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0 ? VI_SUCCESS : VI_ERROR_IO;
}

ViStatus TcpConnection::option(int level, int name, bool &on) const
{
    if (fd < 0)
        return VI_ERROR_CONN_LOST;
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(fd, level, name, &value, &length) != 0)
        return VI_ERROR_IO;
    on = value != 0;
    return VI_SUCCESS;
}

} // namespace visa
