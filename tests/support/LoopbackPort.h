#pragma once

#include <QtGlobal>

// A loopback TCP port nobody listens on: bound and released at once, so a
// connection to it is refused.
quint16 closedLoopbackPort();
// A TCP socket listening on a free loopback port, told in `port`; the caller
// closes it. -1 when the kernel gives none.
int loopbackListener(int backlog, quint16 *port);
