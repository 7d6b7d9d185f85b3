#include "tests/support/ScriptedPeer.h"

#include "tests/support/LoopbackPort.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

ScriptedPeer::ScriptedPeer()
{
    listenFd = loopbackListener(4, &listenPort);
}

ScriptedPeer::~ScriptedPeer()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    if (clientFd >= 0)
        ::close(clientFd);
    ::close(listenFd);
}

ScriptedPeer &ScriptedPeer::send(const QByteArray &bytes)
{
    steps.push_back({Step::Send, bytes, 0});
    return *this;
}

ScriptedPeer &ScriptedPeer::pause(int ms)
{
    steps.push_back({Step::Pause, {}, ms});
    return *this;
}

ScriptedPeer &ScriptedPeer::awaitBytes(int total)
{
    steps.push_back({Step::Await, {}, total});
    return *this;
}

ScriptedPeer &ScriptedPeer::awaitText(const QByteArray &text, int count)
{
    steps.push_back({Step::AwaitText, text, count});
    return *this;
}

ScriptedPeer &ScriptedPeer::close()
{
    steps.push_back({Step::Close, {}, 0});
    return *this;
}

void ScriptedPeer::start()
{
    worker = std::thread([this] { run(); });
}

QString ScriptedPeer::socketResource() const
{
    return QString("TCPIP0::127.0.0.1::%1::SOCKET").arg(listenPort);
}

QByteArray ScriptedPeer::received() const
{
    std::lock_guard<std::mutex> lock(receivedMutex);
    return receivedBytes;
}

// Reads what the client sends for up to `timeoutMs` (or until it closes).
void ScriptedPeer::drain(int timeoutMs)
{
    if (clientFd < 0 || clientGone) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    pollfd entry{clientFd, POLLIN, 0};
    if (::poll(&entry, 1, timeoutMs) <= 0)
        return;
    char chunk[4096];
    const ssize_t n = ::recv(clientFd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
        std::lock_guard<std::mutex> lock(receivedMutex);
        receivedBytes.append(chunk, int(n));
    } else if (n == 0) {
        clientGone = true;
    }
}

void ScriptedPeer::run()
{
    pollfd entry{listenFd, POLLIN, 0};
    for (int waited = 0; !stopping && waited < 20000; waited += 20) {
        if (::poll(&entry, 1, 20) > 0) {
            clientFd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            break;
        }
    }
    if (clientFd < 0)
        return;

    using Clock = std::chrono::steady_clock;
    for (const Step &step : steps) {
        if (stopping)
            return;
        switch (step.kind) {
        case Step::Send:
            ::send(clientFd, step.bytes.constData(), size_t(step.bytes.size()), MSG_NOSIGNAL);
            break;
        case Step::Pause: {
            const auto end = Clock::now() + std::chrono::milliseconds(step.value);
            while (!stopping && Clock::now() < end)
                drain(5);
            break;
        }
        case Step::Await: {
            const auto end = Clock::now() + std::chrono::seconds(20);
            while (!stopping && received().size() < step.value && Clock::now() < end)
                drain(5);
            break;
        }
        case Step::AwaitText: {
            const auto end = Clock::now() + std::chrono::seconds(20);
            while (!stopping && received().count(step.bytes) < step.value && Clock::now() < end)
                drain(5);
            break;
        }
        case Step::Close:
            ::close(clientFd);
            clientFd = -1;
            ++played;
            return;
        }
        ++played;
    }
    while (!stopping)
        drain(10);
}
