#pragma once

#include <cstdint>
#include <string>

namespace visa {

// Settings of the library that a test, or an unusual installation, may
// change before opening sessions. Not part of the VISA interface.
class LibraryConfig
{
public:
    // Port of the ONC RPC port mapper the VXI-11 client asks (default 111).
    static std::uint16_t portMapperPort();
    static void setPortMapperPort(std::uint16_t port);

    // Prefix for /sys and /dev when looking for USBTMC devices (default "").
    static std::string systemRoot();
    static void setSystemRoot(const std::string &root);

    // File that dlopen loads for GPIB (default "libgpib.so.0").
    static std::string gpibLibrary();
    static void setGpibLibrary(const std::string &path);
};

} // namespace visa
