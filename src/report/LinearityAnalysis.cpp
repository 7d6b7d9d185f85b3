#include "report/LinearityAnalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

Extreme largestMagnitude(const QVector<StepStats> &steps, const QVector<double> &values)
{
    Extreme extreme;
    for (qsizetype i = 0; i < values.size(); ++i) {
        const double v = values.at(i);
        if (std::isnan(v))
            continue;
        if (!extreme.valid || std::fabs(v) > std::fabs(extreme.value)) {
            extreme.valid = true;
            extreme.value = v;
            extreme.code = steps.at(i).code;
        }
    }
    return extreme;
}

FitFigures figuresFor(const LineFit &line, const QVector<StepStats> &steps, const IdealLine &ideal)
{
    FitFigures figures;
    figures.line = line;
    figures.inl.fill(kNaN, steps.size());
    figures.dnl.fill(kNaN, steps.size());
    if (!line.valid)
        return figures;

    if (ideal.lsb) {
        figures.gainError = line.gain - *ideal.lsb;
        figures.gainErrorPercent = 100.0 * (line.gain - *ideal.lsb) / *ideal.lsb;
    }
    if (ideal.lsb || ideal.offset) {
        figures.offsetError = line.offset - ideal.offset.value_or(0.0);
        if (ideal.lsb)
            figures.offsetErrorLsb = *figures.offsetError / *ideal.lsb;
    }

    // A flat line has no LSB to measure non-linearity in.
    if (line.gain == 0)
        return figures;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const StepStats &step = steps.at(i);
        if (!step.hasData())
            continue;
        figures.inl[i] = (step.mean - line.at(double(step.code))) / line.gain;
        if (i > 0 && steps.at(i - 1).hasData() && steps.at(i - 1).code == step.code - 1)
            figures.dnl[i] = (step.mean - steps.at(i - 1).mean) / line.gain - 1.0;
    }
    figures.inlMax = largestMagnitude(steps, figures.inl);
    figures.dnlMax = largestMagnitude(steps, figures.dnl);
    return figures;
}

} // namespace

LinearityResult LinearityAnalysis::analyse(const QVector<StepStats> &steps, const IdealLine &ideal)
{
    LinearityResult result;
    QVector<QPointF> points;
    double pooledSquares = 0;
    for (const StepStats &step : steps) {
        result.validReadings += step.count;
        result.errReadings += step.errCount;
        result.invalidReadings += step.invalidCount;
        result.cutReadings += step.cutCount;
        if (!step.hasData()) {
            result.codesWithoutData.append(step.code);
            continue;
        }
        points.append(QPointF(double(step.code), step.mean));
        if (step.count >= 2) {
            pooledSquares += double(step.count - 1) * step.stdDev * step.stdDev;
            result.noiseDegreesOfFreedom += step.count - 1;
            ++result.noiseSteps;
        }
    }
    result.codesWithData = int(points.size());

    result.leastSquares = figuresFor(LineFit::leastSquares(points), steps, ideal);
    result.endPoint = figuresFor(LineFit::endPoint(points), steps, ideal);

    result.noise = result.noiseDegreesOfFreedom > 0
                       ? std::sqrt(pooledSquares / result.noiseDegreesOfFreedom)
                       : kNaN;
    const LineFit &fit = result.leastSquares.line;
    result.noiseLsb = fit.valid && fit.gain != 0 ? result.noise / std::fabs(fit.gain) : kNaN;

    result.dnlStdError.fill(kNaN, steps.size());
    if (points.size() < 2)
        return result;
    // The direction the output should move in; an increasing output when the fit is flat.
    const double direction = fit.valid && fit.gain < 0 ? -1.0 : 1.0;
    // Unknown noise (no repeated readings) leaves the exact rule.
    const double sigma = std::isnan(result.noise) ? 0.0 : result.noise;
    const StepStats *previous = nullptr;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const StepStats &step = steps.at(i);
        if (!step.hasData())
            continue;
        if (previous) {
            const double rise = (step.mean - previous->mean) * direction;
            if (rise < 0)
                result.nonMonotonicCodes.append(step.code);
            if (previous->code == step.code - 1) {
                ++result.missingCodesJudged;
                // DNL(k) <= -1 + 3 se(k) is rise <= 3 x the step's standard error, in
                // output units, so a flat output with no LSB is judged the same way.
                const double stepError =
                    sigma * std::sqrt(1.0 / step.count + 1.0 / previous->count);
                if (fit.gain != 0 && !std::isnan(result.noise)) {
                    const double se = stepError / std::fabs(fit.gain);
                    result.dnlStdError[i] = se;
                    // A healthy code's DNL scatters around 0 with standard error se.
                    if (se > 0)
                        result.expectedFalseMissing +=
                            0.5 * std::erfc((1.0 - kMissingCodeSigmas * se) / (se * M_SQRT2));
                }
                // Float residue of two means of equal readings is no step.
                const double tolerance =
                    1e-9 * std::fabs(fit.gain) +
                    1e-14 * std::max(std::fabs(step.mean), std::fabs(previous->mean));
                if (rise <= kMissingCodeSigmas * stepError + tolerance)
                    result.missingCodes.append(step.code);
            }
        }
        previous = &step;
    }
    result.monotonic = result.nonMonotonicCodes.isEmpty();
    return result;
}
