#pragma once

#include "report/PlotChart.h"
#include "report/ReportBuilder.h"

#include <QSize>
#include <QStringList>

// The three charts of a report: output against code with both fitted lines, INL against
// code and DNL against code, and writing them to files.
class ReportPlots
{
public:
    enum Format
    {
        Png = 0x1,
        Svg = 0x2
    };
    Q_DECLARE_FLAGS(Formats, Format)

    static PlotChart transfer(const LinearityReport &report);
    static PlotChart inl(const LinearityReport &report);
    static PlotChart dnl(const LinearityReport &report);

    // Writes <folder>/<prefix>transfer, inl and dnl in each format and appends each file
    // written to `written`. Stops at the first file that cannot be written.
    [[nodiscard]] static bool write(const LinearityReport &report, const QString &folder,
                                    const QString &prefix, Formats formats, const QSize &size,
                                    QStringList *written, QString *error);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ReportPlots::Formats)
