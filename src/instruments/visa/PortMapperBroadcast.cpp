#include "instruments/visa/PortMapperBroadcast.h"

#include "instruments/visa/Deadline.h"
#include "instruments/visa/RpcPrograms.h"
#include "instruments/visa/RpcRecord.h"
#include "instruments/visa/XdrReader.h"
#include "instruments/visa/XdrWriter.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

namespace visa {

namespace {

using namespace rpc;
constexpr std::uint32_t GetPort = PortMapperGetPort;

// Where to send: each broadcast address, and loopback (which has none).
std::set<in_addr_t> targets()
{
    std::set<in_addr_t> addresses;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (const ifaddrs *i = list; i != nullptr; i = i->ifa_next) {
            if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
                (i->ifa_flags & IFF_UP) == 0)
                continue;
            const sockaddr *address = nullptr;
            if ((i->ifa_flags & IFF_LOOPBACK) != 0)
                address = i->ifa_addr;
            else if ((i->ifa_flags & IFF_BROADCAST) != 0)
                address = i->ifa_broadaddr;
            if (address != nullptr)
                addresses.insert(reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
        }
        ::freeifaddrs(list);
    }
    addresses.insert(htonl(INADDR_LOOPBACK));
    return addresses;
}

std::vector<std::uint8_t> getPortCall(std::uint32_t xid)
{
    XdrWriter call;
    call.putUint(xid).putUint(0).putUint(2); // CALL, RPC version 2
    call.putUint(PortMapperProgram).putUint(PortMapperVersion).putUint(GetPort);
    call.putUint(0).putUint(0); // AUTH_NONE credential
    call.putUint(0).putUint(0); // AUTH_NONE verifier
    call.putUint(Vxi11CoreProgram).putUint(Vxi11CoreVersion).putUint(ProtocolTcp).putUint(0);
    return call.data();
}

// The port of an accepted reply to our call; 0 for anything else.
std::uint32_t portOfReply(const std::uint8_t *data, std::size_t size, std::uint32_t xid)
{
    std::vector<std::uint8_t> results;
    if (RpcReply::parse(data, size, xid, results) != RpcReply::Kind::Accepted)
        return 0;
    XdrReader reply(results);
    const std::uint32_t port = reply.getUint();
    return reply.ok() && port <= 0xFFFF ? port : 0;
}

} // namespace

std::vector<std::string> PortMapperBroadcast::discover(std::uint16_t mapperPort, int waitMs)
{
    std::set<std::string> found;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    const std::uint32_t xid = 0x56495846u ^ static_cast<std::uint32_t>(::getpid());
    const std::vector<std::uint8_t> call = getPortCall(xid);
    for (const in_addr_t target : targets()) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(mapperPort);
        to.sin_addr.s_addr = target;
        // A network that cannot be reached just answers nothing.
        ::sendto(fd, call.data(), call.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                 sizeof to);
    }

    // Every host may answer, so the whole wait is spent listening.
    const Deadline deadline(static_cast<ViUInt32>(std::max(waitMs, 0)));
    std::uint8_t buffer[512];
    while (deadline.waitFor(fd, POLLIN)) {
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t received = ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                            reinterpret_cast<sockaddr *>(&from), &fromSize);
        if (received < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        if (received <= 0 || portOfReply(buffer, std::size_t(received), xid) == 0)
            continue;
        char text[INET_ADDRSTRLEN];
        if (found.size() < MaxHosts &&
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text) != nullptr)
            found.insert(text);
    }
    ::close(fd);
    return std::vector<std::string>(found.begin(), found.end());
}

} // namespace visa
