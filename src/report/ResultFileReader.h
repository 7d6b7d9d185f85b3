#pragma once

#include "report/ResultRun.h"

#include <QString>

#include <functional>

class QIODevice;

// Reads result files as the test objects write them, line by line: head block, column
// heading, step rows and end line, any number of runs per file. Memory does not grow with the
// file: each row goes to a handler and is gone. Tolerates CR LF line ends, a UTF-8 byte-order
// mark, runs stopped mid-row (even when the next run's head block continues on the same line)
// and files in a local 8-bit encoding other than UTF-8. Refuses, with an error, input that is
// no result file: binary data (a NUL byte) before the first run, a line longer than
// kMaxLineLength, or kMaxLeadingText bytes without one line of a result file.
class ResultFileReader
{
public:
    using RowHandler = std::function<void(const ResultRun &run, const ResultRow &row)>;

    static constexpr qint64 kMaxLineLength = 1 << 20;
    static constexpr qint64 kMaxLeadingText = 1 << 20;
    static constexpr int kMaxWarnings = 20;

    // Never fails silently: an unreadable file comes back with `error` set.
    [[nodiscard]] static ResultFile read(const QString &path, const RowHandler &onRow);
    [[nodiscard]] static ResultFile read(QIODevice *device, const QString &path,
                                         const RowHandler &onRow);
};
