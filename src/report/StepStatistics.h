#pragma once

#include "ResultRun.h"

#include <QList>
#include <QVector>

// Statistics of the readings taken at one code, pooled over every row with that code.
// Figures that need more readings than there are (mean without readings, standard deviation
// from fewer than two) are NaN.
struct StepStats
{
    qint64 code = 0;
    int count = 0;        // valid readings
    int errCount = 0;     // "ERR" cells: the meter gave no reply
    int invalidCount = 0; // other cells that are no finite number, or the meter's overload value
    double mean = 0;
    double stdDev = 0; // sample standard deviation (n - 1)
    double min = 0;
    double max = 0;

    bool hasData() const { return count > 0; }
};

class StepStatistics
{
public:
    enum class CellKind
    {
        Valid,
        Err,
        Invalid
    };

    // Classifies one reading cell; `value` is set for valid cells only.
    static CellKind classify(const QString &cell, double *value);

    // One entry per distinct code of the runs' rows, in ascending code order.
    [[nodiscard]] static QVector<StepStats> collect(const QList<ResultRun> &runs);
};
