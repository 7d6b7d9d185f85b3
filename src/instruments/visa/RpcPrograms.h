#pragma once

#include <cstdint>

namespace visa::rpc {

// ONC RPC program numbers the VXI-11 client and the discovery both use.
constexpr std::uint32_t PortMapperProgram = 100000;
constexpr std::uint32_t PortMapperVersion = 2;
constexpr std::uint32_t PortMapperGetPort = 3; // PMAPPROC_GETPORT
constexpr std::uint32_t ProtocolTcp = 6;       // IPPROTO_TCP in a port mapper query
constexpr std::uint32_t Vxi11CoreProgram = 0x0607AF;
constexpr std::uint32_t Vxi11CoreVersion = 1;

} // namespace visa::rpc
