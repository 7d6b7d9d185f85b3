// The 5-byte value frame: the value big-endian, then the low byte of the sum
// of those four bytes.
#include "serial/ValueFrame.h"

#include <QTest>

#include <limits>

class TestValueFrame : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void isValid_data();
    void isValid();
};

void TestValueFrame::encode_data()
{
    QTest::addColumn<qint32>("value");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("1000") << 1000 << QByteArray::fromHex("000003e8eb");
    QTest::newRow("255") << 255 << QByteArray::fromHex("000000ffff");
    QTest::newRow("256") << 256 << QByteArray::fromHex("0000010001");
    QTest::newRow("-1") << -1 << QByteArray::fromHex("fffffffffc");
    QTest::newRow("INT_MIN") << std::numeric_limits<qint32>::min()
                             << QByteArray::fromHex("8000000080");
}

void TestValueFrame::encode()
{
    QFETCH(qint32, value);
    QFETCH(QByteArray, wire);

    const QByteArray frame = ValueFrame::encode(value);
    QCOMPARE(frame.toHex(' '), wire.toHex(' '));
    QVERIFY(ValueFrame::isValid(frame));
    QCOMPARE(ValueFrame::decodeValue(frame), value);
}

void TestValueFrame::isValid_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");

    QTest::newRow("good") << QByteArray::fromHex("000003e8eb") << true;
    QTest::newRow("checksum off by one") << QByteArray::fromHex("000003e8ec") << false;
    QTest::newRow("too short") << QByteArray::fromHex("00000101") << false;
    QTest::newRow("too long") << QByteArray::fromHex("000000010100") << false;
}

void TestValueFrame::isValid()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);

    QCOMPARE(ValueFrame::isValid(bytes), valid);
}

QTEST_APPLESS_MAIN(TestValueFrame)
#include "tst_valueframe.moc"
