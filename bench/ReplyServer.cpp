// bench-reply-server: the fastest instrument there can be. Listens on
// 127.0.0.1, answers every query line (one with a '?') at once with one fixed
// reading, and prints "REPLYSERVER port=<n>" when it is ready. Commands such
// as "*CLS" get no reply, as from a real meter: a reply to them would leave
// the client one reply ahead. Each connection gets a thread of its own;
// SIGTERM ends the program.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

const char kReply[] = "+1.23456789E+00\n";

bool sendAll(int fd, const char *data, size_t count)
{
    while (count > 0) {
        const ssize_t n = ::send(fd, data, count, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        count -= size_t(n);
    }
    return true;
}

// Answers each complete query line, also one split over two reads.
void serve(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string replies;
    bool query = false; // the line so far holds a '?'
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        replies.clear();
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '?')
                query = true;
            if (buffer[i] == '\n') {
                if (query)
                    replies.append(kReply, sizeof kReply - 1);
                query = false;
            }
        }
        if (!replies.empty() && !sendAll(fd, replies.data(), replies.size()))
            break;
    }
    ::close(fd);
}

} // namespace

int main(int argc, char *argv[])
{
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--port N]\n", argv[0]);
            return 2;
        }
    }

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("bench-reply-server");
        return 1;
    }
    std::printf("REPLYSERVER port=%u\n", unsigned(ntohs(address.sin_port)));
    std::fflush(stdout);

    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::thread(serve, fd).detach();
    }
}
