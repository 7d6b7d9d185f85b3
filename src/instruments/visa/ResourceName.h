#pragma once

#include "instruments/visa/visa.h"

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

        // Parsed so that every valid name is understood, but not opened.
        TcpipServant,     // TCPIP[n]::SERVANT
        UsbRaw,           // USB[n]::vid::pid::serial[::intf]::RAW
        GpibIntfc,        // GPIB[n]::INTFC
        GpibServant,      // GPIB[n]::SERVANT
        GpibVxiInstr,     // GPIB-VXI[n]::la[::INSTR]
        GpibVxiMemacc,    // GPIB-VXI[n]::MEMACC
        GpibVxiBackplane, // GPIB-VXI[n][::la]::BACKPLANE
        VxiInstr,         // VXI[n]::la[::INSTR]
        VxiMemacc,        // VXI[n]::MEMACC
        VxiBackplane,     // VXI[n][::la]::BACKPLANE
        VxiServant,       // VXI[n]::SERVANT
        PxiInstr,         // PXI[n]::bus-device[.function][::INSTR], two more forms below
        PxiMemacc,        // PXI[n]::MEMACC
        PxiBackplane,     // PXI[n]::chassis::BACKPLANE
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

    // VXI and GPIB-VXI INSTR and BACKPLANE: the logical address, 0-255.
    int logicalAddress = -1;

    // PXI INSTR by "bus-device[.function]", or the older "PXI<bus>::device
    // [::function]" (interface 0), or "CHASSISc::SLOTs[::FUNCf]"; -1 where
    // the form has no such field. PXI BACKPLANE sets the chassis only.
    int pxiBus = -1;
    int pxiDevice = -1;
    int pxiFunction = -1;
    int pxiChassis = -1;
    int pxiSlot = -1;

    // The name in its canonical spelling, for VI_ATTR_RSRC_NAME.
    std::string canonical;

    // Parses `text`; returns VI_SUCCESS or VI_ERROR_INV_RSRC_NAME.
    static ViStatus parse(const char *text, ResourceName &out);

    ViUInt16 interfaceType() const;
    // "INSTR", "SOCKET", "INTFC", "RAW", "SERVANT", "MEMACC" or "BACKPLANE".
    const char *resourceClass() const;
};

} // namespace visa
