#pragma once

#include "report/StepStatistics.h"

#include <QStringList>

// Per-code figures as text, exact and NaN included, so that a comparison names the first code
// that differs.
inline QStringList describedSteps(const QVector<StepStats> &steps)
{
    QStringList lines;
    for (const StepStats &s : steps)
        lines << QString::asprintf("code %lld: n %lld err %lld invalid %lld cut %lld, %.17g %.17g "
                                   "%.17g %.17g",
                                   s.code, s.count, s.errCount, s.invalidCount, s.cutCount, s.mean,
                                   s.stdDev, s.min, s.max);
    return lines;
}
