#pragma once

#include <QtGlobal>

// Resident memory of this process, from /proc/self/status, in KiB.
namespace ProcessMemory {

qint64 residentKiB();     // VmRSS: now
qint64 peakResidentKiB(); // VmHWM: the most so far

} // namespace ProcessMemory
