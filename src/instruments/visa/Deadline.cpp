#include "instruments/visa/Deadline.h"

#include <cerrno>
#include <climits>
#include <poll.h>

namespace visa {

Deadline::Deadline(ViUInt32 timeoutMs, AbortSignal *abort)
    : infinite(timeoutMs == VI_TMO_INFINITE),
      end(Clock::now() + std::chrono::milliseconds(timeoutMs)), abort(abort),
      abortsBefore(abort ? abort->taken() : 0)
{}

bool Deadline::expired() const
{
    return aborted() || (!infinite && Clock::now() >= end);
}

bool Deadline::aborted() const
{
    return abort && abort->taken() != abortsBefore;
}

int Deadline::pollMs() const
{
    if (infinite)
        return -1;
    const auto left = end - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

ViUInt32 Deadline::remainingMs() const
{
    if (infinite)
        return VI_TMO_INFINITE;
    const int ms = pollMs();
    return static_cast<ViUInt32>(ms);
}

Deadline Deadline::extendedBy(ViUInt32 extraMs) const
{
    Deadline later;
    later.infinite = infinite;
    later.end = end + std::chrono::milliseconds(extraMs);
    later.abort = abort;
    later.abortsBefore = abortsBefore;
    return later;
}

bool Deadline::waitFor(int fd, short events, short *revents) const
{
    for (;;) {
        if (aborted())
            return false;
        pollfd entries[2] = {{fd, events, 0}, {abort ? abort->fd() : -1, POLLIN, 0}};
        const int ready = ::poll(entries, abort ? 2 : 1, pollMs());
        if (ready == 0)
            return false;
        if (ready > 0 && entries[1].revents != 0 && entries[0].revents == 0) {
            if (abort->take())
                return false;
            continue; // another wait took it first
        }
        if (ready > 0 || errno != EINTR) {
            if (revents != nullptr)
                *revents = ready > 0 ? entries[0].revents : short(POLLERR);
            return true;
        }
    }
}

} // namespace visa
