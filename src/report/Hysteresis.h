#pragma once

#include "report/LinearityAnalysis.h"
#include "report/ResultRun.h"

#include <QVector>

#include <map>

// A code measured on the way up and on the way down: the mean of its valid
// readings each way and their difference, up minus down.
struct HysteresisPoint
{
    qint64 code = 0;
    double upMean = 0;
    qint64 upCount = 0;
    double downMean = 0;
    qint64 downCount = 0;
    double difference = 0; // upMean - downMean, in the file's unit
};

struct HysteresisResult
{
    QVector<HysteresisPoint> points; // ascending codes; empty unless the sweep went both ways
    Extreme maximum;                 // the difference of largest magnitude, in the file's unit

    bool sweptBothWays() const { return !points.isEmpty(); }
    // The difference at `code`, NaN where the code was not measured both ways.
    double differenceAt(qint64 code) const;
};

// Tells from the order of a run's rows which way the sweep went through each
// code. Rows of one code in a row are one visit. A visit reached and left
// going up (each time the code rose) counts as up, reached and left going
// down as down; the first visit of a run counts the way it is left, the last
// the way it was reached. A turn (reached one way, left the other) counts for
// neither: the top of an up-down sweep, or the restart of a repeated one.
// Only a run that went both ways through some code counts: an up sweep and a
// later down sweep in two runs hold the drift between them too. Runs pooled
// into one report add up; rows come run by run, with endRun() after each.
class SweepDirections
{
public:
    void add(const ResultRow &row);
    void endRun();
    [[nodiscard]] HysteresisResult result() const;

private:
    enum class Way
    {
        None,
        Up,
        Down
    };
    struct Sums
    {
        double upSum = 0;
        qint64 upCount = 0;
        double downSum = 0;
        qint64 downCount = 0;
    };

    void closeVisit(Way leftBy);

    bool m_inVisit = false;
    qint64 m_code = 0;
    Way m_reachedBy = Way::None;
    double m_sum = 0;
    qint64 m_count = 0;
    std::map<qint64, Sums> m_run; // the run under way
    std::map<qint64, Sums> m_codes;
};
