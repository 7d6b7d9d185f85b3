#include "serial/ValueFrame.h"

namespace ValueFrame {

QByteArray encode(qint32 value)
{
    const quint32 bits = quint32(value);
    QByteArray frame(Size, '\0');
    frame[0] = char(quint8(bits >> 24));
    frame[1] = char(quint8(bits >> 16));
    frame[2] = char(quint8(bits >> 8));
    frame[3] = char(quint8(bits));
    frame[4] = char(checksum(frame));
    return frame;
}

qint32 decodeValue(const QByteArray &bytes)
{
    Q_ASSERT(bytes.size() >= ValueBytes);
    const auto byte = [&bytes](int i) {
        return quint32(quint8(bytes.at(i)));
    };
    return qint32((byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3));
}

quint8 checksum(const QByteArray &bytes)
{
    Q_ASSERT(bytes.size() >= ValueBytes);
    quint8 sum = 0;
    for (int i = 0; i < ValueBytes; ++i)
        sum = quint8(sum + quint8(bytes.at(i)));
    return sum;
}

bool isValid(const QByteArray &frame)
{
    return frame.size() == Size && quint8(frame.at(4)) == checksum(frame);
}

} // namespace ValueFrame
