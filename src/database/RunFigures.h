#pragma once

#include "report/StepStatistics.h"

#include <QJsonObject>

// The figures a run is judged by, kept with the run in the database: the least-squares
// line's gain (output per code) and offset (output at code 0), the largest |INL| and |DNL|
// against it in its LSB (signed), missing codes and the pooled noise in LSB: the report's
// own analysis (docs/report.md) of the run's rows alone, without an ideal line. Rows go in
// as they come; memory grows with the codes, not with the rows.
class RunFigures
{
public:
    void add(const ResultRow &row);
    // Appends one completed row of text cells.
    void add(qint64 code, const QStringList &cells);
    [[nodiscard]] qint64 rows() const { return rowCount; }

    // {"rows", "gain", "offset", "inlMaxLsb", "dnlMaxLsb", "missingCodes", "noiseLsb",
    // "codesWithData"}; a figure that cannot be computed is null.
    [[nodiscard]] QJsonObject toJson() const;

private:
    StepStatistics statistics;
    qint64 rowCount = 0;
};
