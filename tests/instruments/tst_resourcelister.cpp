// benchtest-run --list-resources against hostile answers: identities with
// control characters printed escaped, serial ports listed but asked only
// with --probe-serial, and 120 spoofed port mapper answers in a private
// network namespace, all asked at once within the listing's time limit.

#include "instruments/visa/LibraryConfig.h"
#include "tests/instruments/HostilePeers.h"
#include "tools/boardsim/PseudoTerminal.h"
#include "tools/runner/ResourceLister.h"

#include <QElapsedTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Listing
{
    int status = -1;
    QStringList out;
    QString err;
};

Listing list(const QString &pattern, bool probeSerial)
{
    char *outText = nullptr;
    char *errText = nullptr;
    size_t outSize = 0;
    size_t errSize = 0;
    FILE *out = ::open_memstream(&outText, &outSize);
    FILE *err = ::open_memstream(&errText, &errSize);
    Listing listing;
    listing.status = ResourceLister::run(pattern, probeSerial, out, err);
    std::fclose(out);
    std::fclose(err);
    listing.out = QString::fromUtf8(outText, int(outSize)).split('\n', Qt::SkipEmptyParts);
    listing.err = QString::fromUtf8(errText, int(errSize));
    std::free(outText);
    std::free(errText);
    return listing;
}

// A VXI-11 instrument whose identity is `answer`, ended with END.
HostileServer::Serve identifiesAs(const QByteArray &answer)
{
    return rpc::instrument([answer](PeerLink &link, const rpc::Call &call) {
        link.send(rpc::reply(call.xid, rpc::readResult(answer, 4)));
    });
}

bool bringLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

int udpSocket(in_addr_t address, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

class ResourceListerTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { qunsetenv("BENCHTEST_VISA_RESOURCES"); }
    void identityWithControlCharactersStaysOneLine();
    void serialPortsAreAskedOnlyWhenAllowed();
    void spoofedPortMapperAnswers(); // last: leaves the process in its own network
};

// A reply that holds a line break, a tab, a terminal escape, a backslash,
// bytes beyond ASCII, DEL and NUL, with END only after them, is one escaped
// line, not a forged resource.
void ResourceListerTest::identityWithControlCharactersStaysOneLine()
{
    HostileServer evil(identifiesAs(
        QByteArray("Evil\nTCPIP0::6.6.6.6::inst0::INSTR\tforged\x1b]0;t\x07 a\\nb \xc2\x9b\x7f") +
        '\0' + "!\n"));
    const QString resource = QString("TCPIP0::127.0.0.1,%1::inst0::INSTR").arg(evil.port());
    qputenv("BENCHTEST_VISA_RESOURCES", resource.toUtf8());
    const Listing listing = list("TCPIP0::127.0.0.1,?*", false);
    QCOMPARE(listing.status, 0);
    QCOMPARE(listing.out, QStringList{resource + "\tEvil\\nTCPIP0::6.6.6.6::inst0::INSTR\\tforged"
                                                 "\\x1b]0;t\\x07 a\\\\nb \\xc2\\x9b\\x7f\\x00!"});
}

// The serial device (the other side of a pseudo-terminal) hears nothing unless
// the listing is told it may ask.
void ResourceListerTest::serialPortsAreAskedOnlyWhenAllowed()
{
    PseudoTerminal device;
    QString error;
    QVERIFY2(device.open(&error), qPrintable(error));
    const QString resource = "ASRL" + device.devicePath() + "::INSTR";
    qputenv("BENCHTEST_VISA_RESOURCES", resource.toUtf8());

    // Only this port: the machine's own serial ports are never asked here.
    const Listing listed = list(resource, false);
    QCOMPARE(listed.out,
             QStringList{resource + "\t(not asked: a serial port; --probe-serial asks it)"});
    pollfd entry{device.descriptor(), POLLIN, 0};
    QCOMPARE(::poll(&entry, 1, 200), 0);

    std::thread board([&device] {
        pollfd query{device.descriptor(), POLLIN, 0};
        if (::poll(&query, 1, 5000) > 0 && device.readAvailable() == "*IDN?\n")
            device.write("Board,1\n");
    });
    const Listing probed = list(resource, true);
    board.join();
    QCOMPARE(probed.out, QStringList{resource + "\tBoard,1"});
}

// 120 hosts answer the broadcast and then stall at their port mapper: the
// listing asks them all at once and ends within its limit.
void ResourceListerTest::spoofedPortMapperAnswers()
{
    if (::unshare(CLONE_NEWNET) != 0)
        QSKIP(qPrintable(
            QString("no private network namespace (%1): needs root").arg(std::strerror(errno))));
    QVERIFY(bringLoopbackUp());
    visa::LibraryConfig::setPortMapperPort(111);
    constexpr int Hosts = 120;

    // Every 127.0.0.x is this namespace's own: answers come from 120 of them.
    const int mapper = udpSocket(htonl(INADDR_LOOPBACK), 111);
    QVERIFY(mapper >= 0);
    std::atomic<bool> stop{false};
    std::thread spoofer([&] {
        while (!stop) {
            pollfd entry{mapper, POLLIN, 0};
            unsigned char call[512];
            sockaddr_in from{};
            socklen_t fromSize = sizeof from;
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            const ssize_t n = ::recvfrom(mapper, call, sizeof call, 0,
                                         reinterpret_cast<sockaddr *>(&from), &fromSize);
            if (n < 4)
                continue;
            const std::uint32_t xid =
                std::uint32_t(call[0]) << 24 | call[1] << 16 | call[2] << 8 | call[3];
            const QByteArray answer = rpc::reply(xid, rpc::word(1024)).mid(4);
            for (int host = 2; host < 2 + Hosts; ++host) {
                const int fd = udpSocket(htonl(0x7F000000u | std::uint32_t(host)), 0);
                ::sendto(fd, answer.constData(), size_t(answer.size()), 0,
                         reinterpret_cast<sockaddr *>(&from), fromSize);
                ::close(fd);
            }
        }
    });
    // Their port mappers take the connection (the kernel does, for a
    // listener nobody accepts on) and never answer.
    const int stall = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(111);
    QVERIFY(::bind(stall, reinterpret_cast<sockaddr *>(&any), sizeof any) == 0);
    QVERIFY(::listen(stall, 512) == 0);

    QElapsedTimer clock;
    clock.start();
    const Listing listing = list("TCPIP?*", false);
    const qint64 elapsed = clock.elapsed();
    stop = true;
    spoofer.join();
    ::close(mapper);
    ::close(stall);

    QCOMPARE(listing.status, 0);
    for (int host = 2; host < 2 + Hosts; ++host) {
        const QString resource = QString("TCPIP0::127.0.0.%1::inst0::INSTR\t").arg(host);
        const QStringList lines = listing.out.filter(resource);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(resource + "(no answer: VI_ERROR_"), qPrintable(lines[0]));
    }
    qInfo("%d hosts listed in %lld ms", Hosts, elapsed);
    QVERIFY2(elapsed <= ResourceLister::SearchLimitMs + 2000, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(ResourceListerTest)
#include "tst_resourcelister.moc"
