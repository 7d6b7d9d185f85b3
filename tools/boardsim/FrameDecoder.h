#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <optional>

// What the board made of the bytes it received.
struct FrameEvent
{
    enum Kind
    {
        Value,   // a frame with a good checksum
        BadFrame // bytes that did not make a frame
    };
    Kind kind = Value;
    qint32 value = 0; // for Value
    QByteArray bytes; // the frame, or the bytes given up on
};

// Cuts a byte stream into value frames. The frame has no start marker, so after
// a bad checksum the decoder slides on by one byte until five bytes check out;
// each run of skipped bytes counts as one bad frame. Bytes that never complete
// a frame wait until flush() gives up on them (the line went quiet).
class FrameDecoder
{
public:
    QList<FrameEvent> feed(const QByteArray &bytes);
    std::optional<FrameEvent> flush();
    bool hasPending() const { return !pending.isEmpty() || !skipped.isEmpty(); }

private:
    QByteArray pending; // not yet decoded
    QByteArray skipped; // given up on while hunting for the next frame
};
