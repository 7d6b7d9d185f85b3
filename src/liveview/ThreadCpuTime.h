#pragma once

#include <QtGlobal>

// CPU time the calling thread has used, in nanoseconds: what a piece of work costs, unlike a
// wall clock, which also counts the time other processes held the core.
qint64 threadCpuTimeNs();
