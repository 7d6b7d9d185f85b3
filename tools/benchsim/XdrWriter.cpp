#include "tools/benchsim/XdrWriter.h"

XdrWriter &XdrWriter::putUint(quint32 value)
{
    bytes += char(value >> 24);
    bytes += char(value >> 16);
    bytes += char(value >> 8);
    bytes += char(value);
    return *this;
}

XdrWriter &XdrWriter::putOpaque(const QByteArray &data)
{
    putUint(quint32(data.size()));
    bytes += data;
    bytes += QByteArray((4 - data.size() % 4) % 4, '\0');
    return *this;
}
