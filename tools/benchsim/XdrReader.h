#pragma once

#include <QByteArray>

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
