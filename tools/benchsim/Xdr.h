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

// Reads XDR words; after any read past the end, ok() is false and every
// further value is zero or empty.
class XdrReader
{
public:
    explicit XdrReader(const QByteArray &bytes) : bytes(bytes) {}
    quint32 getUint();
    qint32 getInt() { return qint32(getUint()); }
    QByteArray getOpaque(int maxLength = 1 << 20);
    bool ok() const { return good; }
    QByteArray rest() const { return good ? bytes.mid(offset) : QByteArray(); }

private:
    QByteArray bytes;
    int offset = 0;
    bool good = true;
};
