#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace visa {

// Finds VXI-11 servers on the local networks: one port mapper GETPORT call
// for the VXI-11 core channel over UDP to the broadcast address of every
// interface that is up, and to the loopback address; every host whose port
// mapper names a port answers within the wait.
class PortMapperBroadcast
{
public:
    // The most hosts kept from one broadcast; later answers are ignored, so
    // a network of spoofed answers cannot make the list grow without end.
    static constexpr std::size_t MaxHosts = 1024;

    // The IPv4 addresses that answered (the first MaxHosts), sorted, each
    // once. `mapperPort` is the port mapper's port (111 on a real network).
    static std::vector<std::string> discover(std::uint16_t mapperPort, int waitMs);
};

} // namespace visa
