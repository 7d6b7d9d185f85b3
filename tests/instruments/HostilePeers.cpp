#include "tests/instruments/HostilePeers.h"

#include "tests/support/LoopbackPort.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

bool PeerLink::send(const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size() && alive()) {
        pollfd entry{fd, POLLOUT, 0};
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            sent += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            gone = true;
    }
    return sent == bytes.size();
}

bool PeerLink::receive(int count, QByteArray &bytes)
{
    bytes.clear();
    while (bytes.size() < count && alive()) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n =
            ::recv(fd, chunk, std::min<size_t>(sizeof chunk, size_t(count - bytes.size())), 0);
        if (n > 0)
            bytes.append(chunk, int(n));
        else if (n == 0 || errno != EINTR)
            gone = true;
    }
    return bytes.size() == count;
}

void PeerLink::idle(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (alive() && std::chrono::steady_clock::now() < end) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 5) <= 0)
            continue;
        char chunk[4096];
        if (::recv(fd, chunk, sizeof chunk, 0) <= 0)
            gone = true;
    }
}

HostileServer::HostileServer(Serve serve) : serve(std::move(serve))
{
    listenFd = loopbackListener(16, &listenPort);
    acceptor = std::thread([this] { acceptClients(); });
}

HostileServer::~HostileServer()
{
    stopping = true;
    acceptor.join();
    for (std::thread &client : clients)
        client.join();
    ::close(listenFd);
}

void HostileServer::acceptClients()
{
    while (!stopping) {
        pollfd entry{listenFd, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lock(mutex);
        clients.emplace_back([this, fd] {
            PeerLink link(fd, stopping);
            serve(link);
            ::close(fd);
        });
    }
}

namespace {

std::uint64_t bigEndian(const QByteArray &bytes, int offset, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | std::uint8_t(bytes[offset + i]);
    return value;
}

void appendBigEndian(QByteArray &bytes, std::uint64_t value, int count)
{
    for (int i = count - 1; i >= 0; --i)
        bytes.append(char(value >> (8 * i) & 0xFF));
}

} // namespace

namespace hislip {

QByteArray frame(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                 const QByteArray &payload, std::uint64_t announced)
{
    QByteArray bytes("HS");
    bytes.append(char(type)).append(char(control));
    appendBigEndian(bytes, parameter, 4);
    appendBigEndian(bytes, announced == ~0ull ? std::uint64_t(payload.size()) : announced, 8);
    return bytes + payload;
}

bool receive(PeerLink &link, Message &message)
{
    QByteArray header;
    if (!link.receive(16, header) || !header.startsWith("HS"))
        return false;
    message.type = std::uint8_t(header[2]);
    message.control = std::uint8_t(header[3]);
    message.parameter = std::uint32_t(bigEndian(header, 4, 4));
    const std::uint64_t length = bigEndian(header, 8, 8);
    return length < (1u << 20) && link.receive(int(length), message.payload);
}

HostileServer::Serve instrument(std::function<void(PeerLink &sync)> play)
{
    return [play](PeerLink &link) {
        Message message;
        if (!receive(link, message))
            return;
        if (message.type == Initialize) {
            // Protocol 1.0, session 7.
            if (link.send(frame(InitializeResponse, 0, 0x01000007)))
                play(link);
            return;
        }
        if (message.type != AsyncInitialize || !link.send(frame(AsyncInitializeResponse, 0, 0)))
            return;
        while (receive(link, message)) {
            if (message.type == AsyncMaximumMessageSize) {
                QByteArray size;
                appendBigEndian(size, 1u << 20, 8);
                link.send(frame(AsyncMaximumMessageSizeResponse, 0, 0, size));
            }
        }
    };
}

} // namespace hislip

namespace rpc {

QByteArray word(std::uint32_t value)
{
    QByteArray bytes;
    appendBigEndian(bytes, value, 4);
    return bytes;
}

QByteArray reply(std::uint32_t xid, const QByteArray &results)
{
    // REPLY, MSG_ACCEPTED, AUTH_NONE verifier, SUCCESS.
    const QByteArray body = word(xid) + word(1) + word(0) + word(0) + word(0) + word(0) + results;
    return word(0x80000000u | std::uint32_t(body.size())) + body;
}

QByteArray readResult(const QByteArray &data, std::uint32_t reason)
{
    const QByteArray padding((4 - data.size() % 4) % 4, '\0');
    return word(0) + word(reason) + word(std::uint32_t(data.size())) + data + padding;
}

bool receive(PeerLink &link, Call &call)
{
    QByteArray record;
    bool last = false;
    while (!last) {
        QByteArray mark;
        QByteArray fragment;
        if (!link.receive(4, mark))
            return false;
        const auto value = std::uint32_t(bigEndian(mark, 0, 4));
        last = value & 0x80000000u;
        if ((value & 0x7FFFFFFF) > (1u << 20) || !link.receive(int(value & 0x7FFFFFFF), fragment))
            return false;
        record += fragment;
    }
    if (record.size() < 40)
        return false;
    call.xid = std::uint32_t(bigEndian(record, 0, 4));
    call.procedure = std::uint32_t(bigEndian(record, 20, 4));
    call.arguments = record.mid(40); // after two empty AUTH_NONE parts
    return true;
}

HostileServer::Serve instrument(std::function<void(PeerLink &link, const Call &call)> play)
{
    return [play](PeerLink &link) {
        Call call;
        while (receive(link, call)) {
            if (call.procedure == CreateLink) {
                // No error, link 1, abort port 0, max receive size 1024.
                link.send(reply(call.xid, word(0) + word(1) + word(0) + word(1024)));
            } else if (call.procedure == DeviceWrite) {
                // The data's length word follows link, timeouts and flags.
                const QByteArray length = call.arguments.mid(16, 4);
                link.send(reply(call.xid, word(0) + length));
            } else {
                play(link, call);
            }
        }
    };
}

} // namespace rpc
