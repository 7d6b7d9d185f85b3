#pragma once

#include <QtGlobal>

#include <chrono>

// Nanoseconds on the steady clock, the clock every benchmark time stamp uses.
inline qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
