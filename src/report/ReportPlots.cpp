#include "report/ReportPlots.h"

#include "report/PlotExport.h"

#include <QDir>

#include <cmath>
#include <limits>

namespace {

const QColor kData(31, 119, 180);
const QColor kFit(214, 39, 40);
const QColor kSecondary(120, 120, 120);
const QColor kIdeal(44, 160, 44);
const QColor kReversal(255, 127, 14);

// Output values scaled to an SI prefix that suits their size, for readable axis labels.
struct Scale
{
    double factor = 1;
    QString unit;

    static Scale forValues(const QVector<StepStats> &steps, const QString &unit)
    {
        Scale scale;
        scale.unit = unit;
        if (unit.isEmpty())
            return scale;
        double largest = 0;
        for (const StepStats &step : steps) {
            if (step.hasData())
                largest = std::max(largest, std::fabs(step.mean));
        }
        if (largest == 0) // an all-zero output keeps the plain unit
            return scale;
        static const struct
        {
            double limit;
            double factor;
            const char *prefix;
        } prefixes[] = {{1, 1, ""}, {1e-3, 1e3, "m"}, {1e-6, 1e6, "\u00b5"}, {1e-9, 1e9, "n"}};
        for (const auto &p : prefixes) {
            if (largest >= p.limit || p.factor == 1e9) {
                scale.factor = p.factor;
                scale.unit = QString::fromUtf8(p.prefix) + unit;
                break;
            }
        }
        return scale;
    }
};

QString titleOf(const LinearityReport &report, const QString &what)
{
    const QString name = report.title.isEmpty() ? report.quantity : report.title;
    return name.isEmpty() ? what : name + QStringLiteral(": ") + what;
}

QString outputName(const QString &quantity)
{
    if (quantity == QLatin1String("DAC"))
        return QStringLiteral("Output voltage");
    if (quantity == QLatin1String("ISINK"))
        return QStringLiteral("Sink current");
    return QStringLiteral("Output");
}

PlotChart::Series perCode(const LinearityReport &report, const QVector<double> &values,
                          const QString &name, const QColor &color, PlotChart::Style style,
                          Qt::PenStyle pen = Qt::SolidLine)
{
    PlotChart::Series series;
    series.name = name;
    series.color = color;
    series.style = style;
    series.penStyle = pen;
    for (qsizetype i = 0; i < report.steps.size(); ++i)
        series.points.append(QPointF(double(report.steps.at(i).code), values.at(i)));
    return series;
}

// Markers on a per-code curve at the codes listed (in ascending order, as the analysis lists
// them); none when the list is empty.
void addMarkers(PlotChart *chart, const LinearityReport &report, const QVector<qint64> &codes,
                const QVector<double> &values, const QString &name, const QColor &color)
{
    PlotChart::Series markers;
    markers.name = name;
    markers.color = color;
    markers.style = PlotChart::Style::Markers;
    qsizetype next = 0;
    for (qsizetype i = 0; i < report.steps.size() && next < codes.size(); ++i) {
        const qint64 code = report.steps.at(i).code;
        while (next < codes.size() && codes.at(next) < code)
            ++next;
        if (next < codes.size() && codes.at(next) == code)
            markers.points.append(QPointF(double(code), values.at(i)));
    }
    if (!markers.points.isEmpty())
        chart->addSeries(markers);
}

// Missing and non-monotonic codes, marked on a chart of per-code values.
void addCodeMarkers(PlotChart *chart, const LinearityReport &report, const QVector<double> &values)
{
    addMarkers(chart, report, report.result.missingCodes, values, QStringLiteral("Missing code"),
               kFit);
    addMarkers(chart, report, report.result.nonMonotonicCodes, values,
               QStringLiteral("Non-monotonic code"), kReversal);
}

PlotChart codeChart(const LinearityReport &report, const QString &what, const QString &yLabel)
{
    PlotChart chart;
    chart.setTitle(titleOf(report, what));
    chart.setXLabel(QStringLiteral("Code"));
    chart.setYLabel(yLabel);
    chart.setXMinimumStep(1);
    if (!report.steps.isEmpty())
        chart.setXRange(double(report.steps.first().code), double(report.steps.last().code));
    return chart;
}

} // namespace

PlotChart ReportPlots::transfer(const LinearityReport &report)
{
    const Scale scale = Scale::forValues(report.steps, report.unit);
    const QString yLabel =
        scale.unit.isEmpty()
            ? outputName(report.quantity)
            : QStringLiteral("%1 (%2)").arg(outputName(report.quantity), scale.unit);
    PlotChart chart = codeChart(report, QStringLiteral("output vs code"), yLabel);

    QVector<double> means;
    for (const StepStats &step : report.steps)
        means.append(step.mean * scale.factor);
    chart.addSeries(
        perCode(report, means, QStringLiteral("Mean reading"), kData, PlotChart::Style::Markers));

    if (report.steps.isEmpty())
        return chart;
    const double first = double(report.steps.first().code);
    const double last = double(report.steps.last().code);
    auto line = [&](const LineFit &fit, const QString &name, const QColor &color,
                    Qt::PenStyle pen) {
        if (!fit.valid)
            return;
        PlotChart::Series series;
        series.name = name;
        series.color = color;
        series.penStyle = pen;
        series.points = {QPointF(first, fit.at(first) * scale.factor),
                         QPointF(last, fit.at(last) * scale.factor)};
        chart.addSeries(series);
    };
    line(report.result.leastSquares.line, QStringLiteral("Least-squares fit"), kFit, Qt::SolidLine);
    line(report.result.endPoint.line, QStringLiteral("End-point fit"), kSecondary, Qt::DashLine);
    if (report.ideal.lsb) {
        LineFit ideal;
        ideal.valid = true;
        ideal.gain = *report.ideal.lsb;
        ideal.offset = report.ideal.offset.value_or(0.0);
        line(ideal, QStringLiteral("Ideal line"), kIdeal, Qt::DotLine);
    }
    addCodeMarkers(&chart, report, means);
    return chart;
}

PlotChart ReportPlots::inl(const LinearityReport &report)
{
    PlotChart chart =
        codeChart(report, QStringLiteral("integral non-linearity"), QStringLiteral("INL (LSB)"));
    chart.addSeries(perCode(report, report.result.leastSquares.inl,
                            QStringLiteral("INL, least-squares line"), kData,
                            PlotChart::Style::LineAndMarkers));
    chart.addSeries(perCode(report, report.result.endPoint.inl,
                            QStringLiteral("INL, end-point line"), kSecondary,
                            PlotChart::Style::Line, Qt::DashLine));
    addCodeMarkers(&chart, report, report.result.leastSquares.inl);
    chart.addReference({0, QString(), Qt::black});
    return chart;
}

PlotChart ReportPlots::dnl(const LinearityReport &report)
{
    PlotChart chart = codeChart(report, QStringLiteral("differential non-linearity"),
                                QStringLiteral("DNL (LSB)"));
    const QVector<double> &dnl = report.result.leastSquares.dnl;
    chart.addSeries(perCode(report, dnl, QStringLiteral("DNL, least-squares LSB"), kData,
                            PlotChart::Style::Stems));

    addCodeMarkers(&chart, report, dnl);
    chart.addReference({0, QString(), Qt::black});
    chart.addReference({-1, QStringLiteral("missing code"), kFit});
    return chart;
}

bool ReportPlots::write(const LinearityReport &report, const QString &folder, const QString &prefix,
                        Formats formats, const QSize &size, QStringList *written, QString *error)
{
    const QList<QPair<QString, PlotChart>> charts = {
        {QStringLiteral("transfer"), transfer(report)},
        {QStringLiteral("inl"), inl(report)},
        {QStringLiteral("dnl"), dnl(report)},
    };
    const QDir dir(folder);
    for (const auto &[name, chart] : charts) {
        const QString base = dir.filePath(prefix + name);
        QString reason;
        if (formats.testFlag(Png)) {
            const QString path = base + QStringLiteral(".png");
            if (!PlotExport::writePng(chart, path, size, &reason)) {
                *error = QStringLiteral("%1: %2").arg(path, reason);
                return false;
            }
            written->append(path);
        }
        if (formats.testFlag(Svg)) {
            const QString path = base + QStringLiteral(".svg");
            if (!PlotExport::writeSvg(chart, path, size, &reason)) {
                *error = QStringLiteral("%1: %2").arg(path, reason);
                return false;
            }
            written->append(path);
        }
    }
    return true;
}
