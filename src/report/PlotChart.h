#pragma once

#include <QColor>
#include <QList>
#include <QPair>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVector>

#include <optional>

class QPainter;

// A simple x/y chart painted with QPainter: title, axis labels, grid with round tick
// values, series and horizontal reference lines, and a legend. A NaN y breaks a line.
class PlotChart
{
public:
    enum class Style
    {
        Line,
        Markers,
        LineAndMarkers,
        Stems
    };

    struct Series
    {
        QString name;
        QVector<QPointF> points;
        QColor color = Qt::blue;
        Style style = Style::Line;
        Qt::PenStyle penStyle = Qt::SolidLine;
    };

    struct Reference
    {
        double y = 0;
        QString label;
        QColor color = Qt::darkGray;
    };

    void setTitle(const QString &title) { m_title = title; }
    void setXLabel(const QString &label) { m_xLabel = label; }
    void setYLabel(const QString &label) { m_yLabel = label; }
    // Codes are whole numbers: no tick between two of them.
    void setXMinimumStep(double step) { m_xMinimumStep = step; }
    // The codes of the sweep, so that every chart of it spans the same x range.
    void setXRange(double low, double high) { m_xRange = qMakePair(low, high); }
    void addSeries(const Series &series) { m_series.append(series); }
    void addReference(const Reference &reference) { m_references.append(reference); }

    QString title() const { return m_title; }
    const QList<Series> &series() const { return m_series; }

    struct Bounds
    {
        double xLow = 0;
        double xHigh = 0;
        double yLow = 0;
        double yHigh = 0;
    };
    // The range of every finite point and reference line; none without a finite point. Kept as
    // limits, not as a rectangle, whose width could overflow.
    std::optional<Bounds> dataBounds() const;

    void paint(QPainter *painter, const QRectF &area) const;

private:
    QString m_title;
    QString m_xLabel;
    QString m_yLabel;
    double m_xMinimumStep = 0;
    std::optional<QPair<double, double>> m_xRange;
    QList<Series> m_series;
    QList<Reference> m_references;
};
