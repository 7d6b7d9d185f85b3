#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The floor for a query round trip: one blocking TCP socket, one send() of
// the command, recv() until the reply's newline. No timeouts, no buffering
// beyond the bytes that follow a reply.
class PlainSocketClient
{
public:
    PlainSocketClient() = default;
    ~PlainSocketClient();
    PlainSocketClient(const PlainSocketClient &) = delete;
    PlainSocketClient &operator=(const PlainSocketClient &) = delete;

    bool connectTo(std::uint16_t port); // on 127.0.0.1
    // Sends `command` (newline included) and returns the reply up to and
    // including its newline; empty when the connection failed.
    std::string query(const char *command, std::size_t length);

private:
    int fd = -1;
    std::string pending; // bytes received after the last reply's newline
};
