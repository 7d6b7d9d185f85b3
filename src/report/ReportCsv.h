#pragma once

#include "report/ReportBuilder.h"

#include <QString>

// The per-code table of a report set as CSV, for spreadsheets: one header line, then one
// line per code of each report with code, n, mean, sd, min, max, INL and DNL (both against the
// least-squares line, in LSB). With several reports a first column names the report. When a
// sweep went both ways a last column holds the hysteresis (up minus down, in V or A). Numbers
// use a decimal point; an undefined figure is an empty cell.
class ReportCsv
{
public:
    // Written through a temporary file: the target is replaced only when complete.
    [[nodiscard]] static bool write(const ReportSet &set, const QString &path, QString *error);
};
