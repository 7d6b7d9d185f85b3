#include "report/SpreadPlot.h"

#include <cmath>

namespace {

const QColor kStdDev(31, 119, 180);
const QColor kRange(120, 120, 120);

// The prefix for the largest value: V, mV, µV or nV (A alike). A spread is small beside the
// level it sits on, hence a scale of its own.
void scaleFor(double largest, const QString &unit, double *factor, QString *label)
{
    static const struct
    {
        double limit;
        double factor;
        const char *prefix;
    } prefixes[] = {{1, 1, ""}, {1e-3, 1e3, "m"}, {1e-6, 1e6, "\u00b5"}, {0, 1e9, "n"}};
    *factor = 1;
    *label = unit;
    if (unit.isEmpty() || largest == 0)
        return;
    for (const auto &p : prefixes) {
        if (largest >= p.limit) {
            *factor = p.factor;
            *label = QString::fromUtf8(p.prefix) + unit;
            return;
        }
    }
}

} // namespace

PlotChart SpreadPlot::chart(const LinearityReport &report)
{
    double largest = 0;
    for (const StepStats &step : report.steps) {
        if (step.count > 0)
            largest = std::max(largest, step.max - step.min);
    }
    double factor = 1;
    QString unit;
    scaleFor(largest, report.unit, &factor, &unit);

    PlotChart chart;
    const QString name = report.title.isEmpty() ? report.quantity : report.title;
    chart.setTitle(name.isEmpty() ? QStringLiteral("spread of the readings")
                                  : name + QStringLiteral(": spread of the readings"));
    chart.setXLabel(QStringLiteral("Code"));
    chart.setYLabel(unit.isEmpty() ? QStringLiteral("Spread")
                                   : QStringLiteral("Spread (%1)").arg(unit));
    chart.setXMinimumStep(1);
    if (!report.steps.isEmpty())
        chart.setXRange(double(report.steps.first().code), double(report.steps.last().code));

    PlotChart::Series deviation{QStringLiteral("Standard deviation"),
                                {},
                                kStdDev,
                                PlotChart::Style::LineAndMarkers,
                                Qt::SolidLine};
    PlotChart::Series range{
        QStringLiteral("Range (max - min)"), {}, kRange, PlotChart::Style::Line, Qt::DashLine};
    // NaN where a code has too few readings: the line breaks there.
    for (const StepStats &step : report.steps) {
        const double x = double(step.code);
        deviation.points.append(QPointF(x, step.stdDev * factor));
        range.points.append(QPointF(x, step.count > 0 ? (step.max - step.min) * factor : NAN));
    }
    chart.addSeries(deviation);
    chart.addSeries(range);
    chart.addReference({0, QString(), Qt::black});
    return chart;
}
