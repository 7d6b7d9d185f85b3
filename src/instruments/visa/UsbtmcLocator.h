#pragma once

#include <cstdint>
#include <string>

namespace visa {

// Finds the /dev/usbtmcN node of a USB instrument by what sysfs says of
// each usbtmc device: the vendor id, product id and serial number of the
// USB device, and the number of the interface the node belongs to.
class UsbtmcLocator
{
public:
    // `root` is put before /sys and /dev (empty on a real system).
    // `interfaceNumber` -1 takes any interface. Serial numbers are compared
    // without regard to case. Returns the node's path, or "" when none fits.
    static std::string find(const std::string &root, std::uint16_t vendorId,
                            std::uint16_t productId, const std::string &serialNumber,
                            int interfaceNumber);
};

} // namespace visa
