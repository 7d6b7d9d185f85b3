#pragma once

#include "report/ReportBuilder.h"

#include <QString>

// The plain-text summary printed after a report: one block per analysed sweep.
class ReportSummary
{
public:
    // Expected healthy codes flagged missing by chance from which the summary warns.
    static constexpr double kWeakMissingCodeTest = 0.1;

    static QString text(const ReportSet &set);
    static QString text(const LinearityReport &report, const IdealLine &ideal);

    // A number with six significant digits, "-" when undefined.
    static QString number(double value);
    // Codes as a list, shortened after `limit` entries; "none" for an empty list.
    static QString codeList(const QVector<qint64> &codes, int limit = 20);
};
