#include "instruments/visa/AbortSignal.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace visa {

AbortSignal::AbortSignal() : eventFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

AbortSignal::~AbortSignal()
{
    if (eventFd >= 0)
        ::close(eventFd);
}

void AbortSignal::raise()
{
    const std::uint64_t one = 1;
    if (eventFd >= 0)
        (void)!::write(eventFd, &one, sizeof one);
}

bool AbortSignal::take()
{
    std::uint64_t count = 0;
    if (eventFd < 0 || ::read(eventFd, &count, sizeof count) != sizeof count || count == 0)
        return false;
    // Raises that came together end one wait each.
    if (count > 1) {
        const std::uint64_t rest = count - 1;
        (void)!::write(eventFd, &rest, sizeof rest);
    }
    takenCount.fetch_add(1);
    return true;
}

} // namespace visa
