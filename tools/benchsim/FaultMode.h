#pragma once

#include <QByteArray>
#include <QString>

// How a simulated instrument misbehaves, chosen per instrument:
//   none            answer normally
//   silent          never answer
//   slow[:MS]       answer MS milliseconds late (default 3000), the instrument free meanwhile
//   disconnect[:N]  close the connection after N replies (default 1; 0 = at the first query)
//   nul             put a NUL byte in the middle of each reply
//   long            make each reply longer than 200 bytes
//   garbage         answer with bytes that are neither SCPI nor UTF-8
struct FaultMode
{
    enum class Kind
    {
        None,
        Silent,
        Slow,
        Disconnect,
        Nul,
        Long,
        Garbage
    };

    Kind kind = Kind::None;
    int value = 0; // milliseconds for slow, replies for disconnect

    // Parses "slow:500" and the like; false for an unknown mode.
    static bool parse(const QString &text, FaultMode &mode);
    QString toString() const;

    // The bytes actually sent for a normal reply (which ends in '\n').
    QByteArray shape(const QByteArray &reply) const;
};
