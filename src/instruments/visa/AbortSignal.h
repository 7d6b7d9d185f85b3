#pragma once

#include <atomic>

namespace visa {

// What viTerminate raises on a session, from any thread: the operation in
// progress on it, or the next one to wait if none waits now, stops waiting
// and returns VI_ERROR_ABORT. Each raise ends one wait. Waits poll its
// descriptor beside their own, so a raise wakes them at once.
class AbortSignal
{
public:
    AbortSignal();
    ~AbortSignal();
    AbortSignal(const AbortSignal &) = delete;
    AbortSignal &operator=(const AbortSignal &) = delete;

    void raise();
    // Takes a raise that is pending; true when there was one.
    bool take();
    int fd() const { return eventFd; }
    // Raises taken so far: a wait that took one tells its operation by this.
    unsigned taken() const { return takenCount.load(); }

private:
    int eventFd = -1;
    std::atomic<unsigned> takenCount{0};
};

} // namespace visa
