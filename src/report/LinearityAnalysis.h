#pragma once

#include "report/LineFit.h"
#include "report/StepStatistics.h"

#include <QVector>

#include <optional>

// The line the output should follow: offset + lsb * code. Either part may be unknown; with
// an LSB but no offset the ideal offset is 0.
struct IdealLine
{
    std::optional<double> lsb;
    std::optional<double> offset;
};

// A signed figure of largest magnitude and the code where it occurs (lowest code on ties).
struct Extreme
{
    bool valid = false;
    double value = 0;
    qint64 code = 0;
};

// Figures against one fitted line. INL and DNL are in units of that line's gain (the
// fitted LSB) and run parallel to the steps; NaN marks codes where they are undefined.
struct FitFigures
{
    LineFit line;
    std::optional<double> gainError;        // gain - ideal LSB, output per code
    std::optional<double> gainErrorPercent; // relative to the ideal LSB
    std::optional<double> offsetError;      // offset - ideal offset, output units
    std::optional<double> offsetErrorLsb;   // in ideal LSB
    QVector<double> inl;
    QVector<double> dnl;
    Extreme inlMax;
    Extreme dnlMax;
};

struct LinearityResult
{
    FitFigures leastSquares;
    FitFigures endPoint;
    int codesWithData = 0;
    QVector<qint64> codesWithoutData;
    std::optional<bool> monotonic; // unknown with fewer than two codes with data
    QVector<qint64> nonMonotonicCodes;
    QVector<qint64> missingCodes;
    // Codes judged by the missing-code rule: those whose code below has data
    // too. A sweep of every 64th code has none, and no missing code can be told.
    qint64 missingCodesJudged = 0;
    // Standard error of the least-squares DNL from the noise, in its LSB, per step; NaN
    // where DNL is undefined or the noise unknown.
    QVector<double> dnlStdError;
    // How many healthy codes (DNL 0) the missing-code rule is expected to flag by chance
    // from the noise alone: sum of P(DNL <= -1 + 3 se) over the codes judged. 0 without noise.
    double expectedFalseMissing = 0;
    qint64 validReadings = 0;
    qint64 errReadings = 0;
    qint64 invalidReadings = 0;
    qint64 cutReadings = 0;
    double noise = 0;      // pooled standard deviation; NaN without repeated readings
    double noiseLsb = 0;   // the same in least-squares LSB
    qint64 noiseSteps = 0; // steps with two or more readings
    qint64 noiseDegreesOfFreedom = 0;
};

// Linearity figures of a sweep from its per-code statistics (steps in ascending code order):
//   INL(k) = (mean(k) - fit(k)) / gain
//   DNL(k) = (mean(k) - mean(k-1)) / gain - 1, defined when codes k and k-1 both have data
//   missing code: DNL(k) <= -1 + 3 se(k) against the least-squares gain, where
//   se(k) = noise * sqrt(1/n(k) + 1/n(k-1)) / |gain| is the standard error the noise
//   gives DNL(k); a stuck code measured with noise reads as -1 +- se. Without noise
//   (or noise unknown) this is DNL(k) <= -1, with a float tolerance of 1e-9 LSB.
//   non-monotonic: the mean moves against the least-squares gain's direction from the
//   previous code that has data
//   noise: sqrt(sum((n-1) s^2) / sum(n-1)) over steps with n >= 2 readings
class LinearityAnalysis
{
public:
    // How many standard errors of DNL above -1 still count as a stuck code.
    static constexpr double kMissingCodeSigmas = 3.0;

    [[nodiscard]] static LinearityResult analyse(const QVector<StepStats> &steps,
                                                 const IdealLine &ideal);
};
