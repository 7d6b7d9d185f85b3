#pragma once

#include <cstdint>
#include <string>

#include <sys/types.h>

// bench-reply-server as a child process, ended with SIGTERM when this goes.
class ReplyServerProcess
{
public:
    ReplyServerProcess() = default;
    ~ReplyServerProcess();
    ReplyServerProcess(const ReplyServerProcess &) = delete;
    ReplyServerProcess &operator=(const ReplyServerProcess &) = delete;

    // Starts `program` and waits for its port line; false with error() set otherwise.
    bool start(const std::string &program);
    std::uint16_t port() const { return listening; }
    const std::string &error() const { return failure; }

private:
    pid_t pid = -1;
    std::uint16_t listening = 0;
    std::string failure;
};
