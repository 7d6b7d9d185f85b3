#pragma once

#include "report/ResultRun.h"

#include <QByteArrayView>
#include <QVector>

#include <map>

// Statistics of the readings taken at one code, pooled over every row with that code.
// Figures that need more readings than there are (mean without readings, standard deviation
// from fewer than two) are NaN.
struct StepStats
{
    qint64 code = 0;
    qint64 count = 0;        // valid readings
    qint64 errCount = 0;     // "ERR" cells: the meter gave no reply
    qint64 invalidCount = 0; // other cells that are no finite number, or the meter's overload
    qint64 cutCount = 0;     // last cells of rows without a line end, which may be cut
    double mean = 0;
    double stdDev = 0; // sample standard deviation (n - 1)
    double min = 0;
    double max = 0;

    bool hasData() const { return count > 0; }
};

// Gathers the readings of a sweep row by row. Per code it keeps counts, a sum, the running
// mean and squared deviations, and the extremes: memory grows with the codes, not with the
// readings.
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
    static CellKind classify(QByteArrayView cell, double *value);

    void add(const ResultRow &row);
    bool isEmpty() const { return m_codes.empty(); }
    // One entry per distinct code, in ascending code order.
    [[nodiscard]] QVector<StepStats> steps() const;

private:
    struct Sums
    {
        qint64 count = 0;
        qint64 err = 0;
        qint64 invalid = 0;
        qint64 cut = 0;
        double sum = 0;     // for the mean, added in file order
        double running = 0; // running mean and squared deviations from it (Welford): exact
        double squares = 0; // for small noise on a large level, unlike a sum of squares
        double min = 0;
        double max = 0;
    };

    // The code used last, since codes mostly come in order. A copy or a move starts without
    // one: the iterator points into the map it was taken from, not into the copy's.
    struct LastUsed
    {
        std::map<qint64, Sums>::iterator at;
        bool valid = false;

        LastUsed() = default;
        LastUsed(const LastUsed &) {}
        LastUsed &operator=(const LastUsed &)
        {
            valid = false;
            return *this;
        }
    };

    Sums &sumsFor(qint64 code);

    std::map<qint64, Sums> m_codes;
    LastUsed m_last;
};
