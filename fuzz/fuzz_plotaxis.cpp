// The axis maths of the report's charts with arbitrary doubles: flat data, spans of 1e-300
// or 1e300, NaN and infinities. Whatever comes in, the axis must be finite and ordered, hold
// a few ticks inside it in ascending order, and label each one.
#include "fuzz/FuzzCheck.h"
#include "report/PlotAxis.h"

#include <cmath>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    double values[5] = {0, 1, 0.05, 0, 0}; // low, high, margin, minimum pad, minimum step
    std::memcpy(values, data, std::min(size, sizeof values));
    const auto [low, high, margin, minimumPad, minimumStep] = values;
    const PlotAxis axis = PlotAxis::around(low, high, margin, minimumPad, minimumStep);

    FUZZ_CHECK(std::isfinite(axis.low) && std::isfinite(axis.high) && axis.low < axis.high);
    FUZZ_CHECK(std::isfinite(axis.step) && axis.step > 0);
    // Finite data within the drawable range lies on the axis.
    if (std::isfinite(low) && std::isfinite(high) && std::fabs(low) <= 1e300 &&
        std::fabs(high) <= 1e300)
        FUZZ_CHECK(axis.low <= std::min(low, high) && axis.high >= std::max(low, high));

    const QVector<double> ticks = axis.ticks();
    FUZZ_CHECK(ticks.size() <= PlotAxis::kMaxTicks);
    for (qsizetype i = 0; i < ticks.size(); ++i) {
        FUZZ_CHECK(std::isfinite(ticks.at(i)));
        FUZZ_CHECK(i == 0 || ticks.at(i) > ticks.at(i - 1));
        FUZZ_CHECK(!axis.label(ticks.at(i)).isEmpty());
    }
    // Without a minimum step the axis is never bare: a few ticks mark its scale.
    if (minimumStep == 0 || !std::isfinite(minimumStep))
        FUZZ_CHECK(ticks.size() >= 2);
    return 0;
}
