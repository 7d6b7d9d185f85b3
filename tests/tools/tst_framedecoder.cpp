// The simulated board's frame decoder: values, bad frames and resynchronising,
// however the bytes are split across reads.
#include "tools/boardsim/FrameDecoder.h"

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
};

void TestFrameDecoder::feed_data()
{
    // Each step is a chunk of bytes as one read delivers it (hex), or "|" for
    // the line going quiet (flush).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("events");

    QTest::newRow("one frame") << QStringList{"0000000101"} << "v:1";
    QTest::newRow("split 2 + 3") << QStringList{"0000", "03e8eb"} << "v:1000";
    QTest::newRow("split across frame borders")
        << QStringList{"00000001", "01000003", "e8eb8000", "000080"} << "v:1 v:1000 v:-2147483648";
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

QTEST_APPLESS_MAIN(TestFrameDecoder)
#include "tst_framedecoder.moc"
