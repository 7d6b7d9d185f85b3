#include "StepStatistics.h"

#include <QLocale>

#include <cmath>
#include <limits>
#include <map>
#include <vector>

namespace {

// The multimeter reports an overloaded input as +9.9E+37.
constexpr double kOverload = 9.9e37;

StepStats summarise(qint64 code, const std::vector<double> &values, int errCount, int invalidCount)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    StepStats step;
    step.code = code;
    step.count = int(values.size());
    step.errCount = errCount;
    step.invalidCount = invalidCount;
    step.mean = step.stdDev = step.min = step.max = nan;
    if (values.empty())
        return step;

    double sum = 0;
    step.min = step.max = values.front();
    for (double v : values) {
        sum += v;
        step.min = std::min(step.min, v);
        step.max = std::max(step.max, v);
    }
    step.mean = sum / double(values.size());
    if (values.size() >= 2) {
        // Two passes: subtracting the mean first keeps small noise on a large level exact.
        double squares = 0;
        for (double v : values)
            squares += (v - step.mean) * (v - step.mean);
        step.stdDev = std::sqrt(squares / double(values.size() - 1));
    }
    return step;
}

} // namespace

StepStatistics::CellKind StepStatistics::classify(const QString &cell, double *value)
{
    if (cell == QLatin1String("ERR"))
        return CellKind::Err;
    bool ok = false;
    const double v = QLocale::c().toDouble(cell, &ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) >= kOverload)
        return CellKind::Invalid;
    *value = v;
    return CellKind::Valid;
}

QVector<StepStats> StepStatistics::collect(const QList<ResultRun> &runs)
{
    struct Cells
    {
        std::vector<double> values;
        int err = 0;
        int invalid = 0;
    };
    std::map<qint64, Cells> byCode;
    for (const ResultRun &run : runs) {
        for (const ResultRow &row : run.rows) {
            Cells &cells = byCode[row.code];
            for (const QString &cell : row.readings) {
                double v = 0;
                switch (classify(cell, &v)) {
                case CellKind::Valid:
                    cells.values.push_back(v);
                    break;
                case CellKind::Err:
                    ++cells.err;
                    break;
                case CellKind::Invalid:
                    ++cells.invalid;
                    break;
                }
            }
        }
    }

    QVector<StepStats> steps;
    steps.reserve(qsizetype(byCode.size()));
    for (const auto &[code, cells] : byCode)
        steps.append(summarise(code, cells.values, cells.err, cells.invalid));
    return steps;
}
