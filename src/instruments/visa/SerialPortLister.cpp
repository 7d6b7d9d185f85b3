#include "instruments/visa/SerialPortLister.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>

namespace visa {

std::vector<std::string> SerialPortLister::list(const std::string &root)
{
    const std::string classDir = root + "/sys/class/tty";
    std::vector<std::string> ports;
    DIR *dir = ::opendir(classDir.c_str());
    if (dir == nullptr)
        return ports;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.front() == '.')
            continue;
        char resolved[PATH_MAX];
        if (::realpath((classDir + "/" + name + "/device").c_str(), resolved) == nullptr)
            continue; // a virtual terminal or pseudo-terminal
        const std::string device = resolved;
        if (device.size() >= 11 && device.compare(device.size() - 11, 11, "/serial8250") == 0)
            continue;
        ports.push_back(name);
    }
    ::closedir(dir);
    std::sort(ports.begin(), ports.end());
    return ports;
}

} // namespace visa
