#pragma once

#include <QtGlobal>

// What one client can make the simulator hold, whatever it sends or leaves
// unread; every transport keeps to these, so a hostile client costs a few
// tens of kilobytes and cannot slow the others down.
namespace ClientLimits {

// A longer line is not executed: its first bytes are recorded, the rest up
// to the next '\n' is dropped and -363 "Input buffer overrun" is queued.
constexpr qsizetype MaxLineLength = 16 * 1024;
// Replies waiting for a client beyond this: a stream client is no longer
// read from until it takes its replies (the kernel then holds its sends
// back); a VXI-11 link loses its unread replies to -430 "Query DEADLOCKED".
constexpr qsizetype MaxOutputBacklog = 16 * 1024;
// What Qt buffers of a socket's incoming bytes before we take them.
constexpr qsizetype ReadBufferSize = 16 * 1024;
// Connections one server keeps at a time; more are closed at once.
constexpr int MaxConnections = 64;

} // namespace ClientLimits
