#include "instruments/visa/LibraryConfig.h"

#include <mutex>

namespace visa {

namespace {

std::mutex mutex;
std::uint16_t mapperPort = 111;
std::string root;
std::string gpib = "libgpib.so.0";

} // namespace

std::uint16_t LibraryConfig::portMapperPort()
{
    std::lock_guard<std::mutex> lock(mutex);
    return mapperPort;
}

void LibraryConfig::setPortMapperPort(std::uint16_t port)
{
    std::lock_guard<std::mutex> lock(mutex);
    mapperPort = port;
}

std::string LibraryConfig::systemRoot()
{
    std::lock_guard<std::mutex> lock(mutex);
    return root;
}

void LibraryConfig::setSystemRoot(const std::string &path)
{
    std::lock_guard<std::mutex> lock(mutex);
    root = path;
}

std::string LibraryConfig::gpibLibrary()
{
    std::lock_guard<std::mutex> lock(mutex);
    return gpib;
}

void LibraryConfig::setGpibLibrary(const std::string &path)
{
    std::lock_guard<std::mutex> lock(mutex);
    gpib = path;
}

} // namespace visa
