#include "tests/support/LoopbackPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A TCP socket bound to a port of the kernel's choosing on the loopback;
// -1 when there is none.
int boundLoopbackSocket(quint16 *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

} // namespace

quint16 closedLoopbackPort()
{
    quint16 port = 0;
    const int fd = boundLoopbackSocket(&port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

int loopbackListener(int backlog, quint16 *port)
{
    const int fd = boundLoopbackSocket(port);
    if (fd >= 0 && ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
