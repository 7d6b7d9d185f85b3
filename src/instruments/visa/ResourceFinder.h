#pragma once

#include "instruments/visa/FindExpression.h"

#include <string>
#include <vector>

namespace visa {

// What viFindRsrc searches: serial ports and USBTMC devices from sysfs
// (under LibraryConfig::systemRoot), VXI-11 servers that answer a port
// mapper broadcast (at LibraryConfig::portMapperPort) within a second, and
// the KnownResources.
class ResourceFinder
{
public:
    static constexpr int BroadcastWaitMs = 1000;

    // The canonical names that match, each once: serial, USB, then LAN
    // instruments that answered, then known resources.
    static std::vector<std::string> find(const FindExpression &expression);
};

} // namespace visa
