#include "instruments/visa/ResourceFinder.h"

#include "instruments/visa/KnownResources.h"
#include "instruments/visa/LibraryConfig.h"
#include "instruments/visa/PortMapperBroadcast.h"
#include "instruments/visa/SerialPortLister.h"
#include "instruments/visa/UsbtmcLocator.h"

#include <algorithm>
#include <cstdio>

namespace visa {

namespace {

// ttyS<n> is ASRL<n+1>, the name other VISA libraries give the first ports.
std::string serialResource(const std::string &device)
{
    const std::string digits = device.size() > 4 ? device.substr(4) : std::string();
    if (device.compare(0, 4, "ttyS") == 0 && !digits.empty() && digits.size() < 5 &&
        digits.find_first_not_of("0123456789") == std::string::npos)
        return "ASRL" + std::to_string(std::stoul(digits) + 1) + "::INSTR";
    return "ASRL/dev/" + device + "::INSTR";
}

} // namespace

std::vector<std::string> ResourceFinder::find(const FindExpression &expression)
{
    const std::string root = LibraryConfig::systemRoot();
    std::vector<std::string> candidates;
    for (const std::string &device : SerialPortLister::list(root))
        candidates.push_back(serialResource(device));
    for (const UsbtmcLocator::Device &device : UsbtmcLocator::list(root)) {
        // Without a serial number the device cannot be named.
        if (device.serialNumber.empty() || device.interfaceNumber < 0)
            continue;
        char ids[32];
        std::snprintf(ids, sizeof ids, "0x%04X::0x%04X::", device.vendorId, device.productId);
        candidates.push_back("USB0::" + std::string(ids) + device.serialNumber +
                             "::" + std::to_string(device.interfaceNumber) + "::INSTR");
    }
    for (const std::string &host :
         PortMapperBroadcast::discover(LibraryConfig::portMapperPort(), BroadcastWaitMs))
        candidates.push_back("TCPIP0::" + host + "::inst0::INSTR");
    for (const std::string &name : KnownResources::all())
        candidates.push_back(name);

    std::vector<std::string> found;
    for (const std::string &name : candidates) {
        ResourceName parsed;
        // Only names that open as they are listed; a serial number with a
        // blank in it, say, cannot be given to viOpen.
        if (ResourceName::parse(name.c_str(), parsed) != VI_SUCCESS ||
            !expression.matches(parsed.canonical) ||
            std::find(found.begin(), found.end(), parsed.canonical) != found.end())
            continue;
        found.push_back(parsed.canonical);
    }
    return found;
}

} // namespace visa
