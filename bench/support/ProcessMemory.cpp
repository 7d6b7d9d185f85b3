#include "bench/support/ProcessMemory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

qint64 statusField(const char *name)
{
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    qint64 value = -1;
    const size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            value = std::strtoll(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

} // namespace

namespace ProcessMemory {

qint64 residentKiB()
{
    return statusField("VmRSS");
}

qint64 peakResidentKiB()
{
    return statusField("VmHWM");
}

} // namespace ProcessMemory
