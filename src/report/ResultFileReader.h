#pragma once

#include "ResultRun.h"

#include <QByteArray>
#include <QString>

// Reads result files as the test objects write them: head block, column heading, step rows
// and end line, any number of runs per file. Tolerates CR LF line ends, a UTF-8 byte-order
// mark, runs stopped mid-row (even when the next run's head block continues on the same
// line) and files in a local 8-bit encoding other than UTF-8.
class ResultFileReader
{
public:
    // Never fails silently: an unreadable file comes back with `error` set.
    [[nodiscard]] static ResultFile read(const QString &path);
    [[nodiscard]] static ResultFile parse(const QByteArray &bytes, const QString &path);
};
