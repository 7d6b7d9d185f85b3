#pragma once

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Hostile instruments on real loopback sockets. Their HiSLIP and ONC RPC
// framing is written here from the protocols, apart from the library's, so
// that one misreading cannot hide in both.

// A connection as a hostile peer sees it: every call gives up once the
// server is stopping or the client has gone.
class PeerLink
{
public:
    PeerLink(int fd, const std::atomic<bool> &stopping) : fd(fd), stopping(stopping) {}

    bool alive() const { return !gone && !stopping; }
    bool send(const QByteArray &bytes);
    // Exactly `count` bytes; false when the client went or the server stops.
    bool receive(int count, QByteArray &bytes);
    // Waits up to `ms` while taking and dropping whatever the client sends.
    void idle(int ms);

private:
    int fd;
    const std::atomic<bool> &stopping;
    bool gone = false;
};

// A TCP server on 127.0.0.1 that plays `serve` to every client on a thread of
// its own, until it is destroyed.
class HostileServer
{
public:
    using Serve = std::function<void(PeerLink &link)>;

    explicit HostileServer(Serve serve);
    ~HostileServer();
    HostileServer(const HostileServer &) = delete;
    HostileServer &operator=(const HostileServer &) = delete;

    std::uint16_t port() const { return listenPort; }

private:
    void acceptClients();

    Serve serve;
    int listenFd = -1;
    std::uint16_t listenPort = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    std::mutex mutex;
    std::vector<std::thread> clients;
};

namespace hislip {

enum Type : std::uint8_t
{
    Initialize = 0,
    InitializeResponse = 1,
    Data = 6,
    DataEnd = 7,
    Trigger = 12,
    AsyncMaximumMessageSize = 15,
    AsyncMaximumMessageSizeResponse = 16,
    AsyncInitialize = 17,
    AsyncInitializeResponse = 18,
};

struct Message
{
    std::uint8_t type = 0;
    std::uint8_t control = 0;
    std::uint32_t parameter = 0;
    QByteArray payload;
};

QByteArray frame(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                 const QByteArray &payload = QByteArray(), std::uint64_t announced = ~0ull);
bool receive(PeerLink &link, Message &message);

// A HiSLIP instrument that opens sessions properly: both channels, the
// maximum message size. Its synchronous channel then plays `play`.
HostileServer::Serve instrument(std::function<void(PeerLink &sync)> play);

} // namespace hislip

namespace rpc {

struct Call
{
    std::uint32_t xid = 0;
    std::uint32_t procedure = 0;
    QByteArray arguments;
};

enum Procedure : std::uint32_t
{
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceReadStb = 13,
    DeviceTrigger = 14,
};

QByteArray word(std::uint32_t value);
// A whole record: one last fragment holding an accepted reply to `xid`.
QByteArray reply(std::uint32_t xid, const QByteArray &results);
// A device_read's results: no error, `reason` (4: END), the data padded.
QByteArray readResult(const QByteArray &data, std::uint32_t reason);
bool receive(PeerLink &link, Call &call);

// A VXI-11 instrument that links and takes writes properly; every
// device_read (and anything else) goes to `play`.
HostileServer::Serve instrument(std::function<void(PeerLink &link, const Call &call)> play);

} // namespace rpc
