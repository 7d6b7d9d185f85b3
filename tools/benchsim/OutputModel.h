#pragma once

#include <QSet>
#include <QtGlobal>

// What the board's analog output does for a code: a DAC voltage that is a
// straight line plus a bow of integral non-linearity and a few stuck codes,
// and a current sink that draws a fixed current per code.
struct OutputModel
{
    double gain = 0.001;       // volts per code
    double offset = 0.0;       // volts at code 0
    double bow = 0.0;          // peak of the parabolic non-linearity, volts, at mid-scale
    qint64 fullScale = 4096;   // codes over which the bow spans
    QSet<qint64> missingCodes; // codes whose output stays at the previous code's
    double sinkGain = 1e-6;    // amperes per code
    double sinkOffset = 0.0;   // amperes at code 0

    double voltage(qint64 code) const;
    double current(qint64 code) const;

private:
    qint64 effectiveCode(qint64 code) const;
};
