#include "tests/support/HostileMeter.h"

#include "tests/support/LoopbackPort.h"

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::int64_t kMs = 1000000;

enum Behaviour
{
    Normal,
    StrayBefore,
    StrayAfter,
    Split,
    Late,
    Duplicate,
    Identity,
    Close
};

const char *const kBehaviourNames[] = {"normal", "stray-before", "stray-after", "split",
                                       "late",   "duplicate",    "identity",    "close"};

} // namespace

HostileMeter::HostileMeter(std::uint64_t seed, Odds odds) : odds(odds), random(seed) {}

HostileMeter::~HostileMeter()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    closeClient();
    if (listenFd >= 0)
        ::close(listenFd);
}

QString HostileMeter::valueFor(int number)
{
    return QString::asprintf("%+.8E", number * 1e-6);
}

QString HostileMeter::resource() const
{
    return QStringLiteral("TCPIP0::127.0.0.1::%1::SOCKET").arg(listenPort);
}

bool HostileMeter::start()
{
    listenFd = loopbackListener(4, &listenPort);
    if (listenFd < 0)
        return false;
    nextIdleStrayNs = nowNs() + 1000 * kMs;
    worker = std::thread([this] { run(); });
    return true;
}

std::vector<HostileMeter::Query> HostileMeter::queries() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

QString HostileMeter::tally() const
{
    std::lock_guard<std::mutex> lock(mutex);
    QStringList parts;
    for (int i = 0; i < 8; ++i)
        parts << QStringLiteral("%1 %2").arg(kBehaviourNames[i]).arg(counts[i]);
    parts << QStringLiteral("idle strays %1").arg(strays);
    return parts.join(QStringLiteral(", "));
}

bool HostileMeter::chance(double odds)
{
    return std::uniform_real_distribution<double>(0.0, 1.0)(random) < odds;
}

int HostileMeter::between(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

// Numbers no reply is ever given, each line its own.
QByteArray HostileMeter::strayLine()
{
    static int next = 0;
    return QString::asprintf("%+.8E\n", 7000.0 + ++next).toLatin1();
}

void HostileMeter::schedule(std::int64_t dueNs, const QByteArray &bytes, bool closeAfter)
{
    pending.push_back({dueNs, bytes, closeAfter, connection});
}

void HostileMeter::closeClient()
{
    if (clientFd >= 0)
        ::close(clientFd);
    clientFd = -1;
    input.clear();
}

void HostileMeter::accept()
{
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    // The client has given up on the old connection when it opens a new one.
    closeClient();
    clientFd = fd;
    connection += 1;
}

void HostileMeter::handleLine(const QByteArray &line, std::int64_t now)
{
    Query query;
    query.atNs = now;
    query.command = line;
    const QByteArray command = line.trimmed();
    const int delayNs = between(1, odds.replyDelayMaxMs) * int(kMs);
    if (command == "*IDN?") {
        schedule(now + between(0, 3) * kMs, identity() + '\n');
    } else if (command.compare("Read?", Qt::CaseInsensitive) == 0) {
        query.number = ++reads;
        const QByteArray reply = valueFor(query.number).toLatin1() + '\n';
        const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(random);
        const double limits[] = {odds.strayBefore, odds.strayAfter, odds.split, odds.late,
                                 odds.duplicate,   odds.identity,   odds.close};
        int behaviour = Normal;
        double sum = 0.0;
        for (int i = 0; i < 7; ++i) {
            sum += limits[i];
            if (draw < sum) {
                behaviour = i + 1;
                break;
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        counts[behaviour] += 1;
        switch (behaviour) {
        case StrayBefore:
            schedule(now, strayLine());
            schedule(now + delayNs, reply);
            break;
        case StrayAfter:
            schedule(now + delayNs, reply);
            schedule(now + delayNs + between(1, 80) * kMs, strayLine());
            break;
        case Split: {
            const int cut = between(1, int(reply.size()) - 1);
            schedule(now + delayNs, reply.left(cut));
            schedule(now + delayNs + between(0, 5) * kMs, reply.mid(cut));
            break;
        }
        case Late:
            query.answeredLate = true;
            schedule(now + (odds.timeoutMs + between(100, 600)) * kMs, reply);
            break;
        case Duplicate:
            schedule(now + delayNs, reply);
            schedule(now + delayNs + between(0, 60) * kMs, reply);
            break;
        case Identity:
            query.answeredWithIdentity = true;
            schedule(now + delayNs, identity() + '\n');
            break;
        case Close:
            schedule(now + between(0, odds.replyDelayMaxMs) * kMs, QByteArray(), true);
            break;
        default:
            schedule(now + delayNs, reply);
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(query);
}

void HostileMeter::sendDue(std::int64_t now)
{
    std::stable_sort(pending.begin(), pending.end(),
                     [](const Pending &a, const Pending &b) { return a.dueNs < b.dueNs; });
    while (!pending.empty() && pending.front().dueNs <= now) {
        const Pending due = pending.front();
        pending.erase(pending.begin());
        if (due.connection != connection || clientFd < 0)
            continue; // for a connection that is gone
        if (!due.bytes.isEmpty())
            ::send(clientFd, due.bytes.constData(), size_t(due.bytes.size()), MSG_NOSIGNAL);
        if (due.closeAfter)
            closeClient();
    }
    if (clientFd >= 0 && now >= nextIdleStrayNs) {
        const QByteArray stray = strayLine();
        ::send(clientFd, stray.constData(), size_t(stray.size()), MSG_NOSIGNAL);
        std::lock_guard<std::mutex> lock(mutex);
        strays += 1;
    }
    if (now >= nextIdleStrayNs) {
        const double perSecond = std::max(odds.idleStrayPerSecond, 1e-6);
        const double waitS = std::exponential_distribution<double>(perSecond)(random);
        nextIdleStrayNs = now + std::int64_t(waitS * 1e9);
    }
}

void HostileMeter::run()
{
    while (!stopping) {
        std::int64_t now = nowNs();
        sendDue(now);
        std::int64_t wakeNs = std::min<std::int64_t>(nextIdleStrayNs, now + 50 * kMs);
        for (const Pending &due : pending)
            wakeNs = std::min(wakeNs, due.dueNs);
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {clientFd, POLLIN, 0}};
        const int waitMs = int(std::max<std::int64_t>(0, (wakeNs - now + kMs - 1) / kMs));
        if (::poll(fds, clientFd >= 0 ? 2 : 1, waitMs) <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            accept();
        if (clientFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buffer[4096];
            const ssize_t count = ::recv(clientFd, buffer, sizeof buffer, 0);
            if (count <= 0) {
                closeClient();
                continue;
            }
            input.append(buffer, qsizetype(count));
            now = nowNs();
            for (qsizetype end = input.indexOf('\n'); end >= 0; end = input.indexOf('\n')) {
                const QByteArray line = input.left(end);
                input.remove(0, end + 1);
                handleLine(line, now);
            }
        }
    }
}
