// The simulated board's frame decoder on any byte stream, cut into pieces as
// a serial line may cut it. No byte may be lost or counted twice, and every
// value reported must come from a frame whose checksum holds.
#include "FrameDecoder.h"
#include "FuzzCheck.h"
#include "ValueFrame.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses where the stream is cut: pieces of 1 to 8 bytes.
    const int piece = 1 + data[0] % 8;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    FrameDecoder decoder;
    QList<FrameEvent> events;
    for (qsizetype at = 0; at < stream.size(); at += piece)
        events += decoder.feed(stream.mid(at, piece));
    if (const auto last = decoder.flush())
        events << *last;
    FUZZ_CHECK(!decoder.hasPending());
    FUZZ_CHECK(!decoder.flush().has_value());

    QByteArray seen;
    bool previousBad = false;
    for (const FrameEvent &event : events) {
        FUZZ_CHECK(!event.bytes.isEmpty());
        if (event.kind == FrameEvent::Value) {
            FUZZ_CHECK(ValueFrame::isValid(event.bytes));
            FUZZ_CHECK(event.value == ValueFrame::decodeValue(event.bytes));
            FUZZ_CHECK(ValueFrame::encode(event.value) == event.bytes);
            previousBad = false;
        } else {
            // A run of skipped bytes is one bad frame, never two in a row.
            FUZZ_CHECK(!previousBad);
            previousBad = true;
        }
        seen += event.bytes;
    }
    FUZZ_CHECK(seen == stream);
    return 0;
}
