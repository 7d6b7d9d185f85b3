#pragma once

#include "tools/benchsim/ClientLimits.h"

#include <QByteArray>

#include <optional>

// Cuts received bytes into lines that end in '\n', holding no more than one
// line's worth (MaxLineLength) plus what was appended last. A line that grows
// beyond the limit comes out once as `overlong`, holding its first
// MaxLineLength bytes; the rest of it, up to its '\n', is dropped unseen.
class LineAssembler
{
public:
    struct Line
    {
        QByteArray bytes;
        bool overlong = false;
    };

    void append(const QByteArray &bytes) { buffer += bytes; }
    // The next complete (or overlong) line, if the bytes so far hold one.
    std::optional<Line> next();
    // What is left without its '\n' (END, or the client hung up); nothing
    // while the rest of an overlong line is being dropped.
    std::optional<Line> takeRest();
    void clear();
    qsizetype pendingBytes() const { return buffer.size(); }

private:
    void skipDropped();

    QByteArray buffer;
    qsizetype scanned = 0; // bytes of `buffer` known to hold no '\n'
    bool dropping = false; // inside the rest of an overlong line
};
