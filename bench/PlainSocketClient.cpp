#include "bench/PlainSocketClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

PlainSocketClient::~PlainSocketClient()
{
    if (fd >= 0)
        ::close(fd);
}

bool PlainSocketClient::connectTo(std::uint16_t port)
{
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return false;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

std::string PlainSocketClient::query(const char *command, std::size_t length)
{
    for (std::size_t sent = 0; sent < length;) {
        const ssize_t n = ::send(fd, command + sent, length - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return {};
        sent += std::size_t(n);
    }
    for (;;) {
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos) {
            std::string reply = pending.substr(0, end + 1);
            pending.erase(0, end + 1);
            return reply;
        }
        char buffer[256];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        pending.append(buffer, std::size_t(n));
    }
}
