#include "tools/boardsim/FrameDecoder.h"

#include "serial/ValueFrame.h"

static FrameEvent badFrame(const QByteArray &bytes)
{
    FrameEvent event;
    event.kind = FrameEvent::BadFrame;
    event.bytes = bytes;
    return event;
}

QList<FrameEvent> FrameDecoder::feed(const QByteArray &bytes)
{
    QList<FrameEvent> events;
    pending += bytes;
    while (pending.size() >= ValueFrame::Size) {
        const QByteArray candidate = pending.left(ValueFrame::Size);
        if (!ValueFrame::isValid(candidate)) {
            skipped += pending.at(0);
            pending.remove(0, 1);
            continue;
        }
        if (!skipped.isEmpty()) {
            events.append(badFrame(skipped));
            skipped.clear();
        }
        FrameEvent event;
        event.value = ValueFrame::decodeValue(candidate);
        event.bytes = candidate;
        events.append(event);
        pending.remove(0, ValueFrame::Size);
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
