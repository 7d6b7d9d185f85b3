#pragma once

#include <QByteArray>

// XDR encoding (RFC 4506) of the few types ONC RPC and VXI-11 use:
// big-endian 32-bit words and opaque data padded to a multiple of four.
class XdrWriter
{
public:
    XdrWriter &putUint(quint32 value);
    XdrWriter &putInt(qint32 value) { return putUint(quint32(value)); }
    XdrWriter &putOpaque(const QByteArray &bytes);
    QByteArray data() const { return bytes; }

private:
    QByteArray bytes;
};
