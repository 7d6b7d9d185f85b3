#pragma once

#include "visa.h"

#include <cstdint>
#include <string>

namespace visa {

// A parsed VISA resource string. Keywords and interface names are matched
// without regard to case; host names, serial numbers and device paths keep
// the case they were given in.
struct ResourceName
{
    enum class Kind
    {
        TcpipSocket, // TCPIP[n]::host::port::SOCKET
        Vxi11,       // TCPIP[n]::host[::name][::INSTR], host may be "host,port"
        Hislip,      // TCPIP[n]::host::hislipN[,port][::INSTR]
        UsbTmc,      // USB[n]::vid::pid::serial[::intf][::INSTR]
        Gpib,        // GPIB[n]::pad[::sad][::INSTR]
        Asrl,        // ASRL<n or device path>[::INSTR]
    };

    Kind kind = Kind::TcpipSocket;
    unsigned board = 0;

    // TCPIP: host without brackets; port of a SOCKET resource, or the port of
    // the "host,port" VXI-11 form (0 = ask the port mapper), or of "hislipN,port".
    std::string host;
    std::uint16_t port = 0;
    std::string deviceName; // VXI-11 device name, "inst0" unless given

    // USB
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serialNumber;
    int usbInterface = -1; // -1: the first USBTMC interface that matches

    // GPIB
    unsigned primaryAddress = 0;
    int secondaryAddress = -1; // -1: none

    // ASRL: the serial device node
    std::string devicePath;

    // The name in its canonical spelling, for VI_ATTR_RSRC_NAME.
    std::string canonical;

    // Parses `text`; returns VI_SUCCESS or VI_ERROR_INV_RSRC_NAME.
    static ViStatus parse(const char *text, ResourceName &out);

    ViUInt16 interfaceType() const;
};

} // namespace visa
