#pragma once

#include <string>
#include <vector>

namespace visa {

// The serial ports sysfs knows of: every tty with a device behind it, but
// not the serial8250 placeholders the kernel keeps whether or not a UART
// is there.
class SerialPortLister
{
public:
    // `root` is put before /sys (empty on a real system). Device names such
    // as "ttyS0" and "ttyUSB0", in the order of their names.
    static std::vector<std::string> list(const std::string &root);
};

} // namespace visa
