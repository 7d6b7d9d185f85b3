#include "report/LiveSweep.h"

void LiveSweep::add(const ResultRun &run, const ResultRow &row)
{
    if (m_rows == 0)
        m_quantity = run.quantity;
    if (!run.testItem.isEmpty() && !m_items.contains(run.testItem))
        m_items.append(run.testItem);
    m_statistics.add(row);
    ++m_rows;
    m_lastStep = row.number;
    m_lastCode = row.code;
}

LinearityReport LiveSweep::report(const IdealLine &ideal, const QVector<Limit> &limits) const
{
    LinearityReport report;
    report.title = m_items.join(QStringLiteral(", "));
    report.label = QStringLiteral("so far");
    report.quantity = m_quantity;
    report.unit = ReportBuilder::unitFor(m_quantity);
    report.ideal = ideal;
    report.steps = m_statistics.steps();
    report.result = LinearityAnalysis::analyse(report.steps, ideal);
    report.checks = ReportLimits::check(report, limits);
    return report;
}
