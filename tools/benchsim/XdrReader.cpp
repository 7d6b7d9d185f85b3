#include "tools/benchsim/XdrReader.h"

quint32 XdrReader::getUint()
{
    if (!good || offset + 4 > bytes.size()) {
        good = false;
        return 0;
    }
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData() + offset);
    offset += 4;
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

QByteArray XdrReader::getOpaque(int maxLength)
{
    const quint32 length = getUint();
    const qint64 padded = (qint64(length) + 3) / 4 * 4;
    if (!good || length > quint32(maxLength) || offset + padded > bytes.size()) {
        good = false;
        return QByteArray();
    }
    const QByteArray data = bytes.mid(offset, int(length));
    offset += int(padded);
    return data;
}
