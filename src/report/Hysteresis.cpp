#include "report/Hysteresis.h"

#include "report/StepStatistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

double HysteresisResult::differenceAt(qint64 code) const
{
    const auto at = std::lower_bound(
        points.begin(), points.end(), code,
        [](const HysteresisPoint &point, qint64 value) { return point.code < value; });
    return at != points.end() && at->code == code ? at->difference
                                                  : std::numeric_limits<double>::quiet_NaN();
}

void SweepDirections::add(const ResultRow &row)
{
    if (m_inVisit && row.code != m_code) {
        const Way way = row.code > m_code ? Way::Up : Way::Down;
        closeVisit(way);
        m_reachedBy = way;
    }
    if (!m_inVisit) {
        m_inVisit = true;
        m_code = row.code;
        m_sum = 0;
        m_count = 0;
    }
    for (QByteArrayView cell : row.readings) {
        double value = 0;
        if (StepStatistics::classify(cell, &value) == StepStatistics::CellKind::Valid) {
            m_sum += value;
            ++m_count;
        }
    }
}

void SweepDirections::endRun()
{
    if (m_inVisit)
        closeVisit(Way::None);
    m_reachedBy = Way::None;
    const bool bothWays = std::any_of(m_run.begin(), m_run.end(), [](const auto &entry) {
        return entry.second.upCount > 0 && entry.second.downCount > 0;
    });
    for (const auto &[code, sums] : m_run) {
        if (!bothWays)
            break;
        Sums &total = m_codes[code];
        total.upSum += sums.upSum;
        total.upCount += sums.upCount;
        total.downSum += sums.downSum;
        total.downCount += sums.downCount;
    }
    m_run.clear();
}

void SweepDirections::closeVisit(Way leftBy)
{
    m_inVisit = false;
    Way way = Way::None;
    if (m_reachedBy == Way::None)
        way = leftBy;
    else if (leftBy == Way::None || leftBy == m_reachedBy)
        way = m_reachedBy;
    if (way == Way::None || m_count == 0)
        return;
    Sums &sums = m_run[m_code];
    if (way == Way::Up) {
        sums.upSum += m_sum;
        sums.upCount += m_count;
    } else {
        sums.downSum += m_sum;
        sums.downCount += m_count;
    }
}

HysteresisResult SweepDirections::result() const
{
    HysteresisResult result;
    for (const auto &[code, sums] : m_codes) {
        if (sums.upCount == 0 || sums.downCount == 0)
            continue;
        HysteresisPoint point;
        point.code = code;
        point.upCount = sums.upCount;
        point.downCount = sums.downCount;
        point.upMean = sums.upSum / double(sums.upCount);
        point.downMean = sums.downSum / double(sums.downCount);
        point.difference = point.upMean - point.downMean;
        result.points.append(point);
        // Ascending codes: a tie keeps the lowest code.
        if (!result.maximum.valid || std::fabs(point.difference) > std::fabs(result.maximum.value))
            result.maximum = Extreme{true, point.difference, code};
    }
    return result;
}
