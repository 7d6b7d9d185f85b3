#pragma once

#include <QString>

// A character device of the test's own in `folder`, with the null device's
// numbers: a device that is no serial port, without touching the machine's
// nodes. Empty, with the reason in *why, where mknod is not permitted or the
// folder's file system does not open device nodes.
QString privateNullDevice(const QString &folder, QString *why);
