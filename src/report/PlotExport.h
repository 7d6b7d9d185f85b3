#pragma once

#include "report/PlotChart.h"

#include <QImage>
#include <QSize>
#include <QString>

// Renders a chart into an image or writes it as a PNG or SVG file. Files are written
// through a temporary file and replace the target only when complete.
class PlotExport
{
public:
    static QImage image(const PlotChart &chart, const QSize &size);
    [[nodiscard]] static bool writePng(const PlotChart &chart, const QString &path,
                                       const QSize &size, QString *error);
    [[nodiscard]] static bool writeSvg(const PlotChart &chart, const QString &path,
                                       const QSize &size, QString *error);
};
