// The simulated board's frame decoder: values, bad frames and resynchronising,
// however the bytes are split across reads. The expected bytes are written out
// by hand from the frame's layout (four value bytes, most significant first,
// and their sum modulo 256), never produced by the product's frame code.
#include "tools/boardsim/FrameDecoder.h"

#include <QRandomGenerator>
#include <QTest>

// Renders events as "v:<value>" and "bad:<hex>", blank-separated.
static QString describe(const FrameEvent &event)
{
    if (event.kind == FrameEvent::Value)
        return QStringLiteral("v:%1").arg(event.value);
    return QStringLiteral("bad:") + QString::fromLatin1(event.bytes.toHex());
}

class TestFrameDecoder : public QObject
{
    Q_OBJECT

private slots:
    void feed_data();
    void feed();
    void framesSplitAnywhere_decodeInOrder();
};

void TestFrameDecoder::feed_data()
{
    // Each step is a chunk of bytes as one read delivers it (hex), or "|" for
    // the line going quiet (flush).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("events");

    // Good frames however split: framesSplitAnywhere_decodeInOrder.
    QTest::newRow("one frame") << QStringList{"0000000101"} << "v:1";
    QTest::newRow("garbage before a frame") << QStringList{"aabb0000000101"} << "bad:aabb v:1";
    QTest::newRow("garbage between frames")
        << QStringList{"0000000101", "ff", "000003e8eb"} << "v:1 bad:ff v:1000";
    QTest::newRow("bad checksum, then a good frame")
        << QStringList{"000003e8ec000000ffff"} << "bad:000003e8ec v:255";
    QTest::newRow("partial frame given up when quiet")
        << QStringList{"0000000101", "0000", "|"} << "v:1 bad:0000";
    QTest::newRow("fresh start after quiet")
        << QStringList{"0000", "|", "000000ffff"} << "bad:0000 v:255";
    QTest::newRow("bad frame alone, then quiet")
        << QStringList{"000003e8ec", "|"} << "bad:000003e8ec";
    QTest::newRow("an inverted checksum is bad")
        << QStringList{"00000001fe", "|"} << "bad:00000001fe";
}

void TestFrameDecoder::feed()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, events);

    FrameDecoder decoder;
    QStringList seen;
    for (const QString &step : steps) {
        if (step == QLatin1String("|")) {
            if (const auto event = decoder.flush())
                seen.append(describe(*event));
            continue;
        }
        for (const FrameEvent &event : decoder.feed(QByteArray::fromHex(step.toLatin1())))
            seen.append(describe(event));
    }
    QCOMPARE(seen.join(QLatin1Char(' ')), events);
}

// Any sequence of good frames, cut into reads at random places, decodes to
// exactly its values in order, with no bad frame.
void TestFrameDecoder::framesSplitAnywhere_decodeInOrder()
{
    const quint32 seed = qEnvironmentVariableIsSet("FRAME_SEED")
                             ? quint32(qEnvironmentVariableIntValue("FRAME_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("seed %u (replay with FRAME_SEED=%u)", seed, seed);
    QRandomGenerator random(seed);

    for (int round = 0; round < 200; ++round) {
        QList<qint32> sent;
        QByteArray wire;
        const int frames = random.bounded(1, 20);
        for (int i = 0; i < frames; ++i) {
            const qint32 value = qint32(random.generate());
            const quint32 bits = quint32(value);
            const quint8 b[4] = {quint8(bits >> 24), quint8(bits >> 16), quint8(bits >> 8),
                                 quint8(bits)};
            wire.append(char(b[0])).append(char(b[1])).append(char(b[2])).append(char(b[3]));
            wire.append(char(quint8(b[0] + b[1] + b[2] + b[3])));
            sent << value;
        }

        FrameDecoder decoder;
        QList<qint32> received;
        for (qsizetype at = 0; at < wire.size();) {
            const qsizetype chunk = random.bounded(1, 12);
            for (const FrameEvent &event : decoder.feed(wire.mid(at, chunk))) {
                QVERIFY2(event.kind == FrameEvent::Value, qPrintable(describe(event)));
                received << event.value;
            }
            at += chunk;
        }
        QVERIFY(!decoder.flush());
        QCOMPARE(received, sent);
    }
}

QTEST_APPLESS_MAIN(TestFrameDecoder)
#include "tst_framedecoder.moc"
