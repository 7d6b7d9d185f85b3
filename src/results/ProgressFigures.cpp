#include "results/ProgressFigures.h"

#include <QtGlobal>

#include <limits>

ProgressFigures progressFigures(qint64 elapsedMs, qint64 total, qint64 done)
{
    ProgressFigures figures;
    if (done <= 0 || total <= 0)
        return figures;
    // The products are formed in 128 bits: the step count comes from a field
    // the operator may fill with any 64-bit number, and 64 bits would overflow.
    __extension__ using Wide = __int128;
    const Wide maxTime = std::numeric_limits<qint64>::max();
    figures.percent =
        int(qBound<Wide>(0, Wide(done) * 100 / total, std::numeric_limits<int>::max()));
    figures.remainingMs =
        qint64(qBound<Wide>(-maxTime, Wide(total - done) * elapsedMs / done, maxTime));
    figures.known = true;
    return figures;
}

QString remainingTimeText(qint64 remaining)
{
    const qint64 days = remaining / 86400000;
    const qint64 hours = (remaining % 86400000) / 3600000;
    const qint64 minutes = (remaining % 3600000) / 60000;
    const qint64 seconds = (remaining % 60000) / 1000;
    const qint64 magnitude = remaining < 0 ? -remaining : remaining;

    QString units;
    if (magnitude >= 86400000)
        units += QStringLiteral("%1d ").arg(days);
    if (magnitude >= 3600000)
        units += QStringLiteral("%1h ").arg(hours);
    if (magnitude >= 60000)
        units += QStringLiteral("%1m ").arg(minutes);
    units += QStringLiteral("%1s").arg(seconds);
    return units;
}
