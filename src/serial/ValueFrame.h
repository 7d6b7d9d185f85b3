#pragma once

#include <QByteArray>
#include <QtGlobal>

// The 5-byte frame that carries one value to the board under test: the value's
// two's-complement bits most significant byte first, then the sum of those four
// bytes modulo 256. Nothing precedes or follows a frame on the wire.
namespace ValueFrame {

constexpr int Size = 5;
constexpr int ValueBytes = 4;

QByteArray encode(qint32 value);

// The value in the first four bytes; `bytes` must hold at least four.
qint32 decodeValue(const QByteArray &bytes);

// Sum of the first four bytes modulo 256; `bytes` must hold at least four.
quint8 checksum(const QByteArray &bytes);

// True when `frame` is exactly one frame whose checksum byte matches.
bool isValid(const QByteArray &frame);

} // namespace ValueFrame
