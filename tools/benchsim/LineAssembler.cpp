#include "tools/benchsim/LineAssembler.h"

using ClientLimits::MaxLineLength;

void LineAssembler::skipDropped()
{
    if (!dropping)
        return;
    const qsizetype end = buffer.indexOf('\n');
    buffer.remove(0, end < 0 ? buffer.size() : end + 1);
    dropping = end < 0;
    scanned = 0;
}

std::optional<LineAssembler::Line> LineAssembler::next()
{
    skipDropped();
    if (dropping)
        return std::nullopt;
    const qsizetype end = buffer.indexOf('\n', scanned);
    if (end >= 0 && end < MaxLineLength) {
        Line line{buffer.left(end + 1), false};
        buffer.remove(0, end + 1);
        scanned = 0;
        return line;
    }
    if (end >= MaxLineLength || buffer.size() >= MaxLineLength) {
        Line line{buffer.left(MaxLineLength), true};
        buffer.remove(0, MaxLineLength);
        dropping = true;
        scanned = 0;
        return line;
    }
    scanned = buffer.size();
    return std::nullopt;
}

std::optional<LineAssembler::Line> LineAssembler::takeRest()
{
    skipDropped();
    std::optional<Line> rest;
    if (!dropping && !buffer.isEmpty())
        rest = Line{buffer, false};
    clear();
    return rest;
}

void LineAssembler::clear()
{
    buffer.clear();
    scanned = 0;
    dropping = false;
}
