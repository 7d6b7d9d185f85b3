#include "bench/ReplyServerProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

ReplyServerProcess::~ReplyServerProcess()
{
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

bool ReplyServerProcess::start(const std::string &program)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        failure = std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    char *const argv[] = {const_cast<char *>(program.c_str()), nullptr};
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        pid = -1;
        ::close(pipeFds[0]);
        failure = program + ": " + std::strerror(spawned);
        return false;
    }

    FILE *out = ::fdopen(pipeFds[0], "r");
    unsigned port = 0;
    const bool ready = out != nullptr && std::fscanf(out, "REPLYSERVER port=%u", &port) == 1;
    if (out != nullptr)
        std::fclose(out);
    if (!ready || port == 0 || port > 65535) {
        failure = program + ": no port line";
        return false;
    }
    listening = std::uint16_t(port);
    return true;
}
