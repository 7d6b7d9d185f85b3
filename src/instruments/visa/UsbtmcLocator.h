#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace visa {

// Finds the /dev/usbtmcN node of a USB instrument by what sysfs says of
// each usbtmc device: the vendor id, product id and serial number of the
// USB device, and the number of the interface the node belongs to.
class UsbtmcLocator
{
public:
    struct Device
    {
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        std::string serialNumber; // "" when the device reports none
        int interfaceNumber = -1; // -1 when sysfs does not say
        std::string node;         // root + "/dev/usbtmcN"
    };

    // Every usbtmc node sysfs knows of, in the order of their names.
    static std::vector<Device> list(const std::string &root);

    // `root` is put before /sys and /dev (empty on a real system).
    // `interfaceNumber` -1 takes any interface. Serial numbers are compared
    // without regard to case. Returns the node's path, or "" when none fits.
    static std::string find(const std::string &root, std::uint16_t vendorId,
                            std::uint16_t productId, const std::string &serialNumber,
                            int interfaceNumber);
};

} // namespace visa
