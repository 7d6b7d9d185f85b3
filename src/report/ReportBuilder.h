#pragma once

#include "report/Hysteresis.h"
#include "report/LinearityAnalysis.h"
#include "report/ReportLimits.h"
#include "report/ResultRun.h"
#include "report/StepStatistics.h"

#include <QList>
#include <QStringList>

#include <map>
#include <utility>

class QIODevice;

// One analysed sweep: the runs whose readings were pooled and what came out of them.
struct LinearityReport
{
    QString title;    // the runs' test items
    QString label;    // "all runs", or the file and run for a report per run
    QString quantity; // "DAC" or "ISINK"
    QString unit;     // "V", "A", or empty for an unknown quantity
    IdealLine ideal;
    QList<ResultRun> runs;
    QVector<StepStats> steps;
    LinearityResult result;
    HysteresisResult hysteresis; // codes measured on the way up and down within a run
    QVector<LimitCheck> checks;  // one per limit given

    bool passes() const;
};

struct ReportSet
{
    IdealLine ideal;
    QVector<Limit> limits;
    QList<ResultFile> files;
    QList<LinearityReport> reports;
    QStringList warnings;
    QStringList errors; // any error means no report should be written

    bool passes() const; // every report within every limit
};

// Reads result files, row by row, and groups their runs into reports: all runs pooled into
// one (the readings of a code from every run form one step), or one report per run.
class ReportBuilder
{
public:
    enum class Grouping
    {
        Pooled,
        PerRun
    };

    ReportBuilder(Grouping grouping, const IdealLine &ideal, const QVector<Limit> &limits = {});

    void addFile(const QString &path);
    void addFile(QIODevice *device, const QString &path);
    [[nodiscard]] ReportSet finish();

    static QString unitFor(const QString &quantity);

    [[nodiscard]] static ReportSet build(const QStringList &paths, Grouping grouping,
                                         const IdealLine &ideal, const QVector<Limit> &limits = {});

private:
    void add(const ResultRun &run, const ResultRow &row);
    void endRun();

    Grouping m_grouping;
    IdealLine m_ideal;
    QVector<Limit> m_limits;
    QList<ResultFile> m_files;
    std::map<QString, StepStatistics> m_byQuantity;              // pooled
    std::map<std::pair<qsizetype, int>, StepStatistics> m_byRun; // per run: (file, run)
    std::map<QString, SweepDirections> m_directionsByQuantity;
    std::map<std::pair<qsizetype, int>, SweepDirections> m_directionsByRun;
    // The run whose rows come in, for the directions of its sweep.
    SweepDirections *m_directions = nullptr;
    std::pair<qsizetype, int> m_run{-1, 0};
};
