#include "report/PlotAxis.h"

#include <algorithm>
#include <cmath>

namespace {

// Values beyond this are drawn at the edge, so that the range, its margins and the tick step
// stay finite.
constexpr double kLargest = 1e300;
// A span below this has no normal tick step; it is treated as flat.
constexpr double kSmallest = 1e-305;
// A span below this share of the values' magnitude is rounding residue (equal readings whose
// means differ in the last bit): ticks a step apart would be beyond what a double resolves.
constexpr double kResolvable = 1e-12;

double sane(double value, double fallback, double lowest, double highest)
{
    return std::isfinite(value) ? std::clamp(value, lowest, highest) : fallback;
}

} // namespace

PlotAxis PlotAxis::around(double low, double high, double margin, double minimumPad,
                          double minimumStep)
{
    if (!std::isfinite(low))
        low = std::isfinite(high) ? high : 0.0;
    if (!std::isfinite(high))
        high = low;
    if (low > high)
        std::swap(low, high);
    low = std::clamp(low, -kLargest, kLargest);
    high = std::clamp(high, -kLargest, kLargest);
    margin = sane(margin, 0, 0, 1);
    minimumPad = sane(minimumPad, 0, 0, kLargest);
    minimumStep = sane(minimumStep, 0, 0, kLargest);

    const double magnitude = std::max(std::fabs(low), std::fabs(high));
    if (high - low <= std::max(magnitude * kResolvable, kSmallest)) {
        const double middle = low / 2 + high / 2;
        // Near the smallest spans a tenth of the value can be less than the span itself.
        const double pad =
            std::max(std::fabs(middle) < kSmallest ? 1.0 : std::fabs(middle) * 0.1, high - low);
        low = middle - pad;
        high = middle + pad;
    }
    const double pad = std::max((high - low) * margin, minimumPad);
    PlotAxis axis;
    axis.low = low - pad;
    axis.high = high + pad;
    const double rough = (axis.high - axis.low) / 6.0;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    axis.step = power * 10;
    for (double factor : {1.0, 2.0, 5.0}) {
        if (power * factor >= rough) {
            axis.step = power * factor;
            break;
        }
    }
    axis.step = std::max(axis.step, minimumStep);
    return axis;
}

QVector<double> PlotAxis::ticks() const
{
    QVector<double> values;
    const double first = std::ceil(low / step - 1e-9);
    const double last = std::floor(high / step + 1e-9);
    // Counted, not stepped: an index beyond 2^53 could not be incremented.
    if (!(last - first < kMaxTicks))
        return values;
    for (int i = 0; i <= int(last - first); ++i) {
        double v = (first + i) * step;
        if (std::fabs(v) < step * 1e-9)
            v = 0;
        values.append(v);
    }
    return values;
}

QString PlotAxis::label(double value) const
{
    const double magnitude = std::max(std::fabs(low), std::fabs(high));
    if (magnitude >= 1e6 || magnitude < 1e-4)
        return QString::number(value, 'g', 4);
    const int decimals = std::clamp(int(-std::floor(std::log10(step) + 1e-9)), 0, 17);
    return QString::number(value, 'f', decimals);
}
