#pragma once

#include <QtGlobal>

// A loopback TCP port nobody listens on: bound and released at once, so a
// connection to it is refused.
quint16 closedLoopbackPort();
