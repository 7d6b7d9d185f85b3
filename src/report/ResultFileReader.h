#pragma once

#include "report/ResultRun.h"

#include <QString>

#include <functional>
#include <memory>

class QIODevice;

// Reads result files as the test objects write them, line by line: head block, column
// heading, step rows and end line, any number of runs per file. Memory does not grow with the
// file: each row goes to a handler and is gone. Tolerates CR LF line ends, a UTF-8 byte-order
// mark, runs stopped mid-row (even when the next run's head block continues on the same line)
// and files in a local 8-bit encoding other than UTF-8. Refuses, with an error, input that is
// no result file: binary data (a NUL byte) before the first run, a line longer than
// kMaxLineLength, or kMaxLeadingText bytes without one line of a result file.
//
// read() takes a whole file. An instance reads a file as it grows (a run still going): bytes
// go in with append() as they arrive, whole lines are read at once and a last line without its
// line end waits for the rest; finish() says no more will come. Either way gives the same rows
// and the same ResultFile for the same bytes, however they were split.
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

    // `path` names the file in the result and its messages.
    ResultFileReader(const QString &path, RowHandler onRow);
    ~ResultFileReader();
    ResultFileReader(const ResultFileReader &) = delete;
    ResultFileReader &operator=(const ResultFileReader &) = delete;

    // Reads the bytes that follow those given before. False once the input is done with:
    // refused (file().error is set) or ended by binary data; later bytes are ignored then.
    bool append(QByteArrayView bytes);
    // Forgets a last line without its line end, which will not be completed here: the run
    // went on in a recovery file that starts that line again. Returns the bytes forgotten.
    qsizetype dropPartialLine();
    // No more bytes come: a last line without its line end is read as one (a row cut off).
    void finish();

    [[nodiscard]] const ResultFile &file() const { return m_file; }
    [[nodiscard]] bool isDone() const { return m_done; }
    // Bytes of a last line that waits for its line end.
    [[nodiscard]] qsizetype pendingBytes() const { return m_pending.size(); }

private:
    class Parser;

    void end(bool binary);

    ResultFile m_file;
    std::unique_ptr<Parser> m_parser;
    QByteArray m_pending; // a line begun, without its line end yet
    qint64 m_line = 0;
    qint64 m_total = 0;
    bool m_done = false;
};
