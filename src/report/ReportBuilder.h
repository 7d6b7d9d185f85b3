#pragma once

#include "LinearityAnalysis.h"
#include "ResultRun.h"
#include "StepStatistics.h"

#include <QList>
#include <QStringList>

// One analysed sweep: the runs whose readings were pooled and what came out of them.
struct LinearityReport
{
    QString title;    // the runs' test items
    QString label;    // "all runs", or the file and run for a report per run
    QString quantity; // "DAC" or "ISINK"
    QString unit;     // "V", "A", or empty for an unknown quantity
    QList<ResultRun> runs;
    QVector<StepStats> steps;
    LinearityResult result;
};

struct ReportSet
{
    IdealLine ideal;
    QList<ResultFile> files;
    QList<LinearityReport> reports;
    QStringList warnings;
    QStringList errors; // any error means no report should be written
};

// Reads the result files and groups their runs into reports: all runs pooled into one
// (the readings of a code from every run form one step), or one report per run.
class ReportBuilder
{
public:
    enum class Grouping
    {
        Pooled,
        PerRun
    };

    static QString unitFor(const QString &quantity);

    [[nodiscard]] static ReportSet build(const QStringList &paths, Grouping grouping,
                                         const IdealLine &ideal);
    [[nodiscard]] static ReportSet build(const QList<ResultFile> &files, Grouping grouping,
                                         const IdealLine &ideal);
};
