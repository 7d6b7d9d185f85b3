#include "report/PlotExport.h"

#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>

QImage PlotExport::image(const PlotChart &chart, const QSize &size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    chart.paint(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    return image;
}

bool PlotExport::writePng(const PlotChart &chart, const QString &path, const QSize &size,
                          QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    if (!image(chart, size).save(&file, "PNG")) {
        file.cancelWriting();
        *error = QStringLiteral("PNG encoding failed");
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool PlotExport::writeSvg(const PlotChart &chart, const QString &path, const QSize &size,
                          QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QSvgGenerator generator;
    generator.setOutputDevice(&file);
    // At 96 dpi the SVG's physical size is the chart's pixel size in a browser.
    generator.setResolution(96);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(chart.title());
    QPainter painter;
    if (!painter.begin(&generator)) {
        file.cancelWriting();
        *error = QStringLiteral("SVG painting failed");
        return false;
    }
    chart.paint(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
