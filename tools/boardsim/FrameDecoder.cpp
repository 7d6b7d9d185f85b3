#include "tools/boardsim/FrameDecoder.h"

namespace {

// The frame as the board reads it: four value bytes, most significant first,
// and a fifth byte that is their sum modulo 256.
constexpr int FrameSize = 5;

quint8 byteAt(const QByteArray &bytes, int index)
{
    return static_cast<quint8>(bytes.at(index));
}

bool checksumMatches(const QByteArray &frame)
{
    quint8 sum = 0;
    for (int i = 0; i < FrameSize - 1; ++i)
        sum = quint8(sum + byteAt(frame, i));
    return sum == byteAt(frame, FrameSize - 1);
}

// The value's bit pattern is a two's-complement 32-bit integer.
qint32 valueOf(const QByteArray &frame)
{
    const quint32 bits = quint32(byteAt(frame, 0)) << 24 | quint32(byteAt(frame, 1)) << 16 |
                         quint32(byteAt(frame, 2)) << 8 | quint32(byteAt(frame, 3));
    return static_cast<qint32>(bits);
}

FrameEvent badFrame(const QByteArray &bytes)
{
    FrameEvent event;
    event.kind = FrameEvent::BadFrame;
    event.bytes = bytes;
    return event;
}

} // namespace

QList<FrameEvent> FrameDecoder::feed(const QByteArray &bytes)
{
    QList<FrameEvent> events;
    pending += bytes;
    while (pending.size() >= FrameSize) {
        const QByteArray candidate = pending.left(FrameSize);
        if (!checksumMatches(candidate)) {
            skipped += pending.at(0);
            pending.remove(0, 1);
            continue;
        }
        if (!skipped.isEmpty()) {
            events.append(badFrame(skipped));
            skipped.clear();
        }
        FrameEvent event;
        event.value = valueOf(candidate);
        event.bytes = candidate;
        events.append(event);
        pending.remove(0, FrameSize);
    }
    return events;
}

std::optional<FrameEvent> FrameDecoder::flush()
{
    if (!hasPending())
        return std::nullopt;
    const FrameEvent event = badFrame(skipped + pending);
    skipped.clear();
    pending.clear();
    return event;
}
