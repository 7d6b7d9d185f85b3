#include "PlotChart.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// An axis over [low, high] with round ticks inside it: multiples of 1, 2 or 5 times a power
// of ten.
struct Axis
{
    double low = 0;
    double high = 1;
    double step = 1;

    // `margin` widens the range on each side by that share of it, at least by `minimumPad`.
    static Axis around(double low, double high, double margin, double minimumPad,
                       double minimumStep)
    {
        if (high - low <= 0) {
            const double pad = low == 0 ? 1.0 : std::fabs(low) * 0.1;
            low -= pad;
            high += pad;
        }
        const double pad = std::max((high - low) * margin, minimumPad);
        Axis axis;
        axis.low = low - pad;
        axis.high = high + pad;
        const double rough = (axis.high - axis.low) / 6.0;
        const double power = std::pow(10.0, std::floor(std::log10(rough)));
        axis.step = power * 10;
        for (double factor : {1.0, 2.0, 5.0}) {
            if (power * factor >= rough) {
                axis.step = power * factor;
                break;
            }
        }
        axis.step = std::max(axis.step, minimumStep);
        return axis;
    }

    QVector<double> ticks() const
    {
        QVector<double> values;
        const double first = std::ceil(low / step - 1e-9);
        const double last = std::floor(high / step + 1e-9);
        for (double i = first; i <= last; ++i) {
            double v = i * step;
            if (std::fabs(v) < step * 1e-9)
                v = 0;
            values.append(v);
        }
        return values;
    }

    QString label(double value) const
    {
        const double magnitude = std::max(std::fabs(low), std::fabs(high));
        if (magnitude >= 1e6 || magnitude < 1e-4)
            return QString::number(value, 'g', 4);
        const int decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
        return QString::number(value, 'f', decimals);
    }
};

constexpr int kManyPoints = 400;

} // namespace

std::optional<QRectF> PlotChart::dataBounds() const
{
    bool any = false;
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    for (const Series &series : m_series) {
        for (const QPointF &p : series.points) {
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
                continue;
            if (!any) {
                x0 = x1 = p.x();
                y0 = y1 = p.y();
                any = true;
            }
            x0 = std::min(x0, p.x());
            x1 = std::max(x1, p.x());
            y0 = std::min(y0, p.y());
            y1 = std::max(y1, p.y());
        }
    }
    if (!any)
        return std::nullopt;
    for (const Reference &reference : m_references) {
        y0 = std::min(y0, reference.y);
        y1 = std::max(y1, reference.y);
    }
    return QRectF(QPointF(x0, y0), QPointF(x1, y1));
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

    const std::optional<QRectF> bounds = dataBounds();
    const QRectF range = bounds.value_or(QRectF(0, 0, 1, 1));
    const double xLow = m_xRange ? m_xRange->first : range.left();
    const double xHigh = m_xRange ? m_xRange->second : range.right();
    const Axis xAxis = Axis::around(xLow, xHigh, 0.02, m_xMinimumStep / 2, m_xMinimumStep);
    const Axis yAxis = Axis::around(range.top(), range.bottom(), 0.05, 0, 0);

    double yLabelWidth = 0;
    for (double tick : yAxis.ticks())
        yLabelWidth = std::max(yLabelWidth, metrics.horizontalAdvance(yAxis.label(tick)));
    const QRectF plot(
        QPointF(area.left() + metrics.height() * 1.8 + yLabelWidth + unit,
                titleRect.bottom() + unit),
        QPointF(area.right() - unit * 1.5, area.bottom() - metrics.height() * 2.6 - unit * 0.5));

    auto mapX = [&](double x) {
        return plot.left() + (x - xAxis.low) / (xAxis.high - xAxis.low) * plot.width();
    };
    auto mapY = [&](double y) {
        return plot.bottom() - (y - yAxis.low) / (yAxis.high - yAxis.low) * plot.height();
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
        const QPen pen(series.color, std::max(1.5, unit * 0.12), series.penStyle);
        if (series.style == Style::Line || series.style == Style::LineAndMarkers) {
            QPainterPath path;
            bool open = false;
            for (const QPointF &p : series.points) {
                if (!std::isfinite(p.y())) {
                    open = false;
                    continue;
                }
                const QPointF at(mapX(p.x()), mapY(p.y()));
                if (open)
                    path.lineTo(at);
                else
                    path.moveTo(at);
                open = true;
            }
            painter->setPen(pen);
            painter->setBrush(Qt::NoBrush);
            painter->drawPath(path);
        }
        if (series.style == Style::Stems) {
            painter->setPen(QPen(series.color, many ? 1.0 : pen.widthF()));
            const double base = mapY(std::clamp(0.0, yAxis.low, yAxis.high));
            for (const QPointF &p : series.points) {
                if (std::isfinite(p.y()))
                    painter->drawLine(QPointF(mapX(p.x()), base),
                                      QPointF(mapX(p.x()), mapY(p.y())));
            }
        }
        const bool markers =
            series.style == Style::Markers || (!many && series.style != Style::Line);
        if (markers) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(series.color);
            for (const QPointF &p : series.points) {
                if (std::isfinite(p.y()))
                    painter->drawEllipse(QPointF(mapX(p.x()), mapY(p.y())), radius, radius);
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
