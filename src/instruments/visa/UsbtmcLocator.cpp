#include "instruments/visa/UsbtmcLocator.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>

namespace visa {

namespace {

std::string readLine(const std::string &path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

bool readHex(const std::string &path, unsigned long &value)
{
    const std::string text = readLine(path);
    if (text.empty())
        return false;
    char *end = nullptr;
    value = std::strtoul(text.c_str(), &end, 16);
    return end != nullptr && *end == '\0';
}

bool sameText(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string parentOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

std::vector<UsbtmcLocator::Device> UsbtmcLocator::list(const std::string &root)
{
    // Kernels register usbtmc nodes under the usbmisc class (older ones: usb).
    std::set<std::string> names;
    for (const char *classDir : {"/sys/class/usbmisc", "/sys/class/usb"}) {
        DIR *dir = ::opendir((root + classDir).c_str());
        if (dir == nullptr)
            continue;
        while (const dirent *entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind("usbtmc", 0) == 0)
                names.insert(std::string(classDir) + "/" + name);
        }
        ::closedir(dir);
    }

    std::vector<Device> devices;
    for (const std::string &entry : names) {
        // "device" leads to the USB interface; its parent is the USB device.
        char resolved[PATH_MAX];
        if (::realpath((root + entry + "/device").c_str(), resolved) == nullptr)
            continue;
        const std::string interfaceDir = resolved;
        const std::string deviceDir = parentOf(interfaceDir);
        unsigned long vendor = 0;
        unsigned long product = 0;
        unsigned long number = 0;
        if (!readHex(deviceDir + "/idVendor", vendor) ||
            !readHex(deviceDir + "/idProduct", product) || vendor > 0xFFFF || product > 0xFFFF)
            continue;
        Device device;
        device.vendorId = static_cast<std::uint16_t>(vendor);
        device.productId = static_cast<std::uint16_t>(product);
        device.serialNumber = readLine(deviceDir + "/serial");
        if (readHex(interfaceDir + "/bInterfaceNumber", number) && number <= 255)
            device.interfaceNumber = static_cast<int>(number);
        device.node = root + "/dev/" + entry.substr(entry.find_last_of('/') + 1);
        devices.push_back(device);
    }
    return devices;
}

std::string UsbtmcLocator::find(const std::string &root, std::uint16_t vendorId,
                                std::uint16_t productId, const std::string &serialNumber,
                                int interfaceNumber)
{
    for (const Device &device : list(root)) {
        if (device.vendorId == vendorId && device.productId == productId &&
            sameText(device.serialNumber, serialNumber) &&
            (interfaceNumber < 0 || device.interfaceNumber == interfaceNumber))
            return device.node;
    }
    return std::string();
}

} // namespace visa
