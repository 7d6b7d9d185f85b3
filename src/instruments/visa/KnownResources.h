#pragma once

#include "instruments/visa/ResourceName.h"

#include <string>
#include <vector>

namespace visa {

// Resources no scan of the system or the network finds: the LAN resources
// this process opened, and the resources the user lists in the environment
// variable BENCHTEST_VISA_RESOURCES (separated by blanks or ';').
class KnownResources
{
public:
    // Keeps a TCPIP resource that has just opened; others are found by scans.
    static void remember(const ResourceName &name);
    // Canonical names: what was remembered, in order, then the configured
    // ones that parse.
    static std::vector<std::string> all();
};

} // namespace visa
