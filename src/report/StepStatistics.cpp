#include "report/StepStatistics.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

// The multimeter reports an overloaded input as +9.9E+37.
constexpr double kOverload = 9.9e37;

} // namespace

StepStatistics::CellKind StepStatistics::classify(QByteArrayView cell, double *value)
{
    if (cell == "ERR")
        return CellKind::Err;
    if (cell.startsWith('+') && !cell.startsWith("+-") && !cell.startsWith("++"))
        cell = cell.sliced(1);
    const char *end = cell.data() + cell.size();
    double v = 0;
    const auto [at, error] = std::from_chars(cell.data(), end, v);
    if (cell.isEmpty() || error != std::errc() || at != end || !std::isfinite(v) ||
        std::fabs(v) >= kOverload)
        return CellKind::Invalid;
    *value = v;
    return CellKind::Valid;
}

StepStatistics::Sums &StepStatistics::sumsFor(qint64 code)
{
    if (m_last.valid) {
        if (m_last.at->first == code)
            return m_last.at->second;
        const auto next = std::next(m_last.at);
        if (next != m_codes.end() && next->first == code)
            return (m_last.at = next)->second;
    }
    const auto at = m_codes.lower_bound(code);
    m_last.at =
        at != m_codes.end() && at->first == code ? at : m_codes.emplace_hint(at, code, Sums());
    m_last.valid = true;
    return m_last.at->second;
}

void StepStatistics::add(const ResultRow &row)
{
    Sums &sums = sumsFor(row.code);
    if (row.cutCell)
        ++sums.cut;
    for (QByteArrayView cell : row.readings) {
        double v = 0;
        switch (classify(cell, &v)) {
        case CellKind::Valid: {
            ++sums.count;
            sums.sum += v;
            const double delta = v - sums.running;
            sums.running += delta / double(sums.count);
            sums.squares += delta * (v - sums.running);
            sums.min = sums.count == 1 ? v : std::min(sums.min, v);
            sums.max = sums.count == 1 ? v : std::max(sums.max, v);
            break;
        }
        case CellKind::Err:
            ++sums.err;
            break;
        case CellKind::Invalid:
            ++sums.invalid;
            break;
        }
    }
}

QVector<StepStats> StepStatistics::steps() const
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QVector<StepStats> steps;
    steps.reserve(qsizetype(m_codes.size()));
    for (const auto &[code, sums] : m_codes) {
        StepStats step;
        step.code = code;
        step.count = sums.count;
        step.errCount = sums.err;
        step.invalidCount = sums.invalid;
        step.cutCount = sums.cut;
        step.mean = step.stdDev = step.min = step.max = nan;
        if (sums.count > 0) {
            step.mean = sums.sum / double(sums.count);
            step.min = sums.min;
            step.max = sums.max;
        }
        if (sums.count > 1)
            step.stdDev = std::sqrt(std::max(0.0, sums.squares) / double(sums.count - 1));
        steps.append(step);
    }
    return steps;
}
