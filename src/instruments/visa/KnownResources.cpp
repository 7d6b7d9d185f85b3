#include "instruments/visa/KnownResources.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace visa {

namespace {

std::mutex mutex;
std::vector<std::string> opened;

} // namespace

void KnownResources::remember(const ResourceName &name)
{
    if (name.interfaceType() != VI_INTF_TCPIP)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (std::find(opened.begin(), opened.end(), name.canonical) == opened.end())
        opened.push_back(name.canonical);
}

std::vector<std::string> KnownResources::all()
{
    std::vector<std::string> names;
    {
        std::lock_guard<std::mutex> lock(mutex);
        names = opened;
    }
    const char *configured = std::getenv("BENCHTEST_VISA_RESOURCES");
    const std::string text = configured == nullptr ? std::string() : configured;
    const char *separators = " \t\r\n;";
    std::size_t start = text.find_first_not_of(separators);
    while (start != std::string::npos) {
        const std::size_t end = text.find_first_of(separators, start);
        ResourceName name;
        if (ResourceName::parse(text.substr(start, end - start).c_str(), name) == VI_SUCCESS)
            names.push_back(name.canonical);
        start = text.find_first_not_of(separators, end);
    }
    return names;
}

} // namespace visa
