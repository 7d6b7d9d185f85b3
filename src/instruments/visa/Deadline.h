#pragma once

#include "instruments/visa/visa.h"

#include "instruments/visa/AbortSignal.h"

#include <chrono>

namespace visa {

class AbortSignal;

// The end of one operation's time budget, given in VISA timeout milliseconds
// (VI_TMO_INFINITE: none), and, when given an abort signal, the end of it on
// viTerminate as well.
class Deadline
{
public:
    explicit Deadline(ViUInt32 timeoutMs, AbortSignal *abort = nullptr);

    // Past its time, or aborted.
    bool expired() const;
    // A wait under this deadline took an abort.
    bool aborted() const;
    // Milliseconds left for poll(): -1 when infinite, 0 once expired; rounded
    // up so that a wait never ends just before the deadline.
    int pollMs() const;
    // Milliseconds left, saturated to the VISA range (VI_TMO_INFINITE when infinite).
    ViUInt32 remainingMs() const;
    // A deadline `extraMs` later than this one (still infinite if this one is).
    Deadline extendedBy(ViUInt32 extraMs) const;
    // Waits until `fd` has one of `events` or this deadline passes (or an
    // abort comes), polling again when a signal interrupts. False once the
    // deadline passed or an abort was taken; true
    // otherwise, with poll's `revents` if asked (POLLERR when poll itself
    // failed, so that the following call reports the error).
    bool waitFor(int fd, short events, short *revents = nullptr) const;

private:
    using Clock = std::chrono::steady_clock;
    Deadline() = default;
    bool infinite = false;
    Clock::time_point end;
    AbortSignal *abort = nullptr;
    unsigned abortsBefore = 0;
};

} // namespace visa
