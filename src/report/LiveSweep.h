#pragma once

#include "report/ReportBuilder.h"
#include "report/StepStatistics.h"

#include <QString>
#include <QStringList>

// The figures of a sweep while its rows come in, pooled by the code column as the report pools
// them (codes may come in any order and repeat): memory grows with the codes, not the rows.
class LiveSweep
{
public:
    void add(const ResultRun &run, const ResultRow &row);

    qint64 rows() const { return m_rows; } // step rows read
    // The step counter ("No.") and the code of the last row; 0 before the first.
    qint64 lastStep() const { return m_lastStep; }
    qint64 lastCode() const { return m_lastCode; }
    QString quantity() const { return m_quantity; }

    // What the report says of the rows so far: per-code statistics, both fits over the codes
    // read (the INL is the residual from the running least-squares line) and the limits.
    [[nodiscard]] LinearityReport report(const IdealLine &ideal,
                                         const QVector<Limit> &limits = {}) const;

private:
    StepStatistics m_statistics;
    QStringList m_items; // the test items of the runs read, as the report's title names them
    QString m_quantity;
    qint64 m_rows = 0;
    qint64 m_lastStep = 0;
    qint64 m_lastCode = 0;
};
