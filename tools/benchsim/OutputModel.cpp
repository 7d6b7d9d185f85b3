#include "tools/benchsim/OutputModel.h"

qint64 OutputModel::effectiveCode(qint64 code) const
{
    // A stuck code repeats the one below it, so the output has a flat step there.
    while (missingCodes.contains(code) && code > 0)
        --code;
    return code;
}

double OutputModel::voltage(qint64 code) const
{
    const qint64 effective = effectiveCode(code);
    double x = fullScale > 0 ? double(effective) / double(fullScale) : 0.0;
    x = qBound(0.0, x, 1.0);
    return offset + gain * double(effective) + bow * 4.0 * x * (1.0 - x);
}

double OutputModel::current(qint64 code) const
{
    return sinkOffset + sinkGain * double(effectiveCode(code));
}
