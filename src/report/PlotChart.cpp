#include "report/PlotChart.h"

#include "report/PlotAxis.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QSet>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int kManyPoints = 400;
// A series of more points than this is drawn from the few per pixel that make its picture.
constexpr int kThinAbove = 20000;

// A line (or stems) through many points, reduced per pixel column to its first, lowest,
// highest and last point, in their order: the same picture, whatever the count. Gaps stay.
QVector<QPointF> thinned(const QVector<QPointF> &pixels)
{
    QVector<QPointF> kept;
    qsizetype i = 0;
    while (i < pixels.size()) {
        if (std::isnan(pixels.at(i).y())) {
            kept.append(pixels.at(i++));
            continue;
        }
        const double column = std::floor(pixels.at(i).x());
        qsizetype end = i;
        qsizetype lowest = i;
        qsizetype highest = i;
        while (end < pixels.size() && !std::isnan(pixels.at(end).y()) &&
               std::floor(pixels.at(end).x()) == column) {
            if (pixels.at(end).y() < pixels.at(lowest).y())
                lowest = end;
            if (pixels.at(end).y() > pixels.at(highest).y())
                highest = end;
            ++end;
        }
        std::array<qsizetype, 4> picks = {i, lowest, highest, end - 1};
        std::sort(picks.begin(), picks.end());
        for (qsizetype k = 0; k < 4; ++k) {
            if (k == 0 || picks[k] != picks[k - 1])
                kept.append(pixels.at(picks[k]));
        }
        i = end;
    }
    return kept;
}

// Markers: one per pixel, since more would only paint it again.
QVector<QPointF> distinctPixels(const QVector<QPointF> &pixels)
{
    QVector<QPointF> kept;
    QSet<QPair<int, int>> seen;
    for (const QPointF &at : pixels) {
        if (!std::isnan(at.y()) && !seen.contains({qRound(at.x()), qRound(at.y())})) {
            seen.insert({qRound(at.x()), qRound(at.y())});
            kept.append(at);
        }
    }
    return kept;
}

// A line through the points, broken at each NaN. Not one path: Qt's antialiased stroke of a
// wide pen slows down far faster than a path's points grow (a 4000-point zigzag takes most of
// a second, which a live chart redrawn a few times a second cannot afford). Segment by
// segment, the pen's square caps closing the joints and the dash pattern carried on from one
// segment to the next, the picture is the same in a small fraction of the time.
void drawLine(QPainter *painter, QPen pen, const QVector<QPointF> &pixels)
{
    painter->setBrush(Qt::NoBrush);
    const bool dashed = pen.style() != Qt::SolidLine;
    painter->setPen(pen);
    QVector<QLineF> segments;
    segments.reserve(pixels.size());
    double along = 0; // pen widths from the start of the line, for the dash pattern
    for (qsizetype i = 1; i < pixels.size(); ++i) {
        const QPointF &from = pixels.at(i - 1);
        const QPointF &to = pixels.at(i);
        if (std::isnan(from.y()) || std::isnan(to.y())) {
            along = 0; // after a gap the pattern starts again, as on a path's next part
            continue;
        }
        const QLineF segment(from, to);
        if (!dashed) {
            segments.append(segment);
            continue;
        }
        pen.setDashOffset(along);
        painter->setPen(pen);
        painter->drawLine(segment);
        along += segment.length() / pen.widthF();
    }
    painter->drawLines(segments);
}

} // namespace

std::optional<PlotChart::Bounds> PlotChart::dataBounds() const
{
    std::optional<Bounds> bounds;
    for (const Series &series : m_series) {
        for (const QPointF &p : series.points) {
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
                continue;
            if (!bounds)
                bounds = Bounds{p.x(), p.x(), p.y(), p.y()};
            bounds->xLow = std::min(bounds->xLow, p.x());
            bounds->xHigh = std::max(bounds->xHigh, p.x());
            bounds->yLow = std::min(bounds->yLow, p.y());
            bounds->yHigh = std::max(bounds->yHigh, p.y());
        }
    }
    if (!bounds)
        return std::nullopt;
    for (const Reference &reference : m_references) {
        bounds->yLow = std::min(bounds->yLow, reference.y);
        bounds->yHigh = std::max(bounds->yHigh, reference.y);
    }
    return bounds;
}

void PlotChart::paint(QPainter *painter, const QRectF &area) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillRect(area, Qt::white);

    const double unit = std::max(10.0, std::min(area.width(), area.height()) / 40.0);
    QFont font = painter->font();
    font.setPixelSize(int(unit));
    QFont titleFont = font;
    titleFont.setPixelSize(int(unit * 1.3));
    titleFont.setBold(true);
    const QFontMetricsF metrics(font);
    const QFontMetricsF titleMetrics(titleFont);

    painter->setFont(titleFont);
    painter->setPen(Qt::black);
    const QRectF titleRect(area.left(), area.top() + unit * 0.5, area.width(),
                           titleMetrics.height());
    painter->drawText(titleRect, Qt::AlignCenter, m_title);

    const std::optional<Bounds> bounds = dataBounds();
    const Bounds range = bounds.value_or(Bounds{0, 1, 0, 1});
    const double xLow = m_xRange ? m_xRange->first : range.xLow;
    const double xHigh = m_xRange ? m_xRange->second : range.xHigh;
    const PlotAxis xAxis = PlotAxis::around(xLow, xHigh, 0.02, m_xMinimumStep / 2, m_xMinimumStep);
    const PlotAxis yAxis = PlotAxis::around(range.yLow, range.yHigh, 0.05, 0, 0);

    double yLabelWidth = 0;
    for (double tick : yAxis.ticks())
        yLabelWidth = std::max(yLabelWidth, metrics.horizontalAdvance(yAxis.label(tick)));
    const QRectF plot(
        QPointF(area.left() + metrics.height() * 1.8 + yLabelWidth + unit,
                titleRect.bottom() + unit),
        QPointF(area.right() - unit * 1.5, area.bottom() - metrics.height() * 2.6 - unit * 0.5));

    // Points far outside the axes (beyond what an axis spans) stay a bounded distance away,
    // where the clip removes them.
    const double far = 4 * (area.width() + area.height());
    auto mapX = [&](double x) {
        const double at = plot.left() + (x - xAxis.low) / (xAxis.high - xAxis.low) * plot.width();
        return std::clamp(at, plot.left() - far, plot.right() + far);
    };
    auto mapY = [&](double y) {
        const double at =
            plot.bottom() - (y - yAxis.low) / (yAxis.high - yAxis.low) * plot.height();
        return std::clamp(at, plot.top() - far, plot.bottom() + far);
    };

    // Grid and tick labels.
    painter->setFont(font);
    const QPen gridPen(QColor(220, 220, 220), 1);
    for (double tick : xAxis.ticks()) {
        const double x = mapX(tick);
        painter->setPen(gridPen);
        painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter->setPen(Qt::black);
        painter->drawText(QRectF(x - 100, plot.bottom() + unit * 0.3, 200, metrics.height()),
                          Qt::AlignHCenter | Qt::AlignTop, xAxis.label(tick));
    }
    for (double tick : yAxis.ticks()) {
        const double y = mapY(tick);
        painter->setPen(gridPen);
        painter->drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter->setPen(Qt::black);
        painter->drawText(QRectF(plot.left() - unit * 0.4 - yLabelWidth, y - metrics.height() / 2,
                                 yLabelWidth, metrics.height()),
                          Qt::AlignRight | Qt::AlignVCenter, yAxis.label(tick));
    }
    painter->setPen(QPen(Qt::black, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(plot);

    // Axis labels.
    painter->drawText(
        QRectF(plot.left(), area.bottom() - metrics.height() * 1.3, plot.width(), metrics.height()),
        Qt::AlignCenter, m_xLabel);
    painter->save();
    painter->translate(area.left() + unit * 0.4, plot.center().y());
    painter->rotate(-90);
    painter->drawText(QRectF(-plot.height() / 2, 0, plot.height(), metrics.height()),
                      Qt::AlignCenter, m_yLabel);
    painter->restore();

    if (!bounds) {
        painter->drawText(plot, Qt::AlignCenter, QStringLiteral("no data"));
        painter->restore();
        return;
    }

    painter->save();
    painter->setClipRect(plot.adjusted(-1, -1, 1, 1));
    for (const Reference &reference : m_references) {
        painter->setPen(QPen(reference.color, 1.2, Qt::DashLine));
        const double y = mapY(reference.y);
        painter->drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter->drawText(QRectF(plot.left(), y - metrics.height() - 2, plot.width() - unit * 0.4,
                                 metrics.height()),
                          Qt::AlignRight | Qt::AlignBottom, reference.label);
    }

    for (const Series &series : m_series) {
        const bool many = series.points.size() > kManyPoints;
        const double radius = many ? 1.2 : unit * 0.28;
        // Many points take a thin line, as they take small markers: the fine detail reads
        // better, and a one-pixel pen is drawn many times faster than a wider one.
        const QPen pen(series.color, many ? 1.0 : std::max(1.5, unit * 0.12), series.penStyle);
        // In pixels; a point without a finite value is a gap (NaN y).
        QVector<QPointF> pixels;
        pixels.reserve(series.points.size());
        for (const QPointF &p : series.points) {
            const bool defined = std::isfinite(p.x()) && std::isfinite(p.y());
            pixels.append(defined ? QPointF(mapX(p.x()), mapY(p.y())) : QPointF(0, qQNaN()));
        }
        const bool huge = pixels.size() > kThinAbove;
        if (series.style == Style::Line || series.style == Style::LineAndMarkers)
            drawLine(painter, pen, huge ? thinned(pixels) : pixels);
        if (series.style == Style::Stems) {
            painter->setPen(QPen(series.color, many ? 1.0 : pen.widthF()));
            const double base = mapY(std::clamp(0.0, yAxis.low, yAxis.high));
            for (const QPointF &at : huge ? thinned(pixels) : pixels) {
                if (!std::isnan(at.y()))
                    painter->drawLine(QPointF(at.x(), base), at);
            }
        }
        const bool markers =
            series.style == Style::Markers || (!many && series.style != Style::Line);
        if (markers) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(series.color);
            for (const QPointF &at : huge ? distinctPixels(pixels) : pixels) {
                if (!std::isnan(at.y()))
                    painter->drawEllipse(at, radius, radius);
            }
        }
    }
    painter->restore();

    // Legend in the upper left corner of the plot.
    QList<const Series *> named;
    double legendWidth = 0;
    for (const Series &series : m_series) {
        if (series.name.isEmpty())
            continue;
        named.append(&series);
        legendWidth = std::max(legendWidth, metrics.horizontalAdvance(series.name));
    }
    if (!named.isEmpty()) {
        const double line = metrics.height() * 1.2;
        const QRectF box(plot.left() + unit * 0.6, plot.top() + unit * 0.6,
                         legendWidth + unit * 3.6, line * named.size() + unit * 0.6);
        painter->setPen(QPen(QColor(160, 160, 160), 1));
        painter->setBrush(QColor(255, 255, 255, 230));
        painter->drawRect(box);
        for (qsizetype i = 0; i < named.size(); ++i) {
            const Series &series = *named.at(i);
            const double y = box.top() + unit * 0.3 + line * (i + 0.5);
            const double x = box.left() + unit * 0.4;
            if (series.style == Style::Markers) {
                painter->setPen(Qt::NoPen);
                painter->setBrush(series.color);
                painter->drawEllipse(QPointF(x + unit, y), unit * 0.28, unit * 0.28);
            } else {
                painter->setPen(QPen(series.color, std::max(1.5, unit * 0.12), series.penStyle));
                painter->drawLine(QPointF(x, y), QPointF(x + unit * 2, y));
            }
            painter->setPen(Qt::black);
            painter->drawText(QRectF(x + unit * 2.6, y - line / 2, legendWidth + unit, line),
                              Qt::AlignLeft | Qt::AlignVCenter, series.name);
        }
    }
    painter->restore();
}
