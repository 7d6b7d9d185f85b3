#include "report/PlotAxis.h"
#include "report/PlotExport.h"
#include "report/ReportBuilder.h"
#include "report/ReportPlots.h"
#include "report/SpreadPlot.h"

#include <QtTest>

#include <cmath>

namespace {

const QColor kDataColour(31, 119, 180);

LinearityReport report(const char *name)
{
    const QString path =
        QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/report/data/") + QLatin1String(name);
    const ReportSet set = ReportBuilder::build({path}, ReportBuilder::Grouping::Pooled, {});
    if (set.reports.size() != 1)
        qFatal("%s gave no report", name);
    return set.reports.first();
}

// How many pixels of `image` pass `test`.
template <typename Test> int countPixels(const QImage &image, Test test)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += test(image.pixelColor(x, y));
    }
    return count;
}

int nonWhitePixels(const QImage &image)
{
    return countPixels(image, [](const QColor &c) { return c != Qt::white; });
}

} // namespace

class TestReportPlots : public QObject
{
    Q_OBJECT

private slots:
    // Frame, grid, text and data: well above a blank page, well below a filled one. Even a
    // chart with a single defined point between codes without data shows its marker.
    void chartImages()
    {
        const LinearityReport err = report("err.txt");
        for (const PlotChart &chart :
             {ReportPlots::transfer(err), ReportPlots::inl(err), ReportPlots::dnl(err)}) {
            const QImage image = PlotExport::image(chart, QSize(640, 400));
            const int ink = nonWhitePixels(image);
            QVERIFY2(ink > 640 * 400 / 50 && ink < 640 * 400 / 2, qPrintable(QString::number(ink)));
            const auto isData = [](const QColor &c) {
                return std::abs(c.red() - kDataColour.red()) < 12 &&
                       std::abs(c.green() - kDataColour.green()) < 12 &&
                       std::abs(c.blue() - kDataColour.blue()) < 12;
            };
            QVERIFY(countPixels(image, isData) > 10);
        }
    }

    // Charts without usable data still paint axes and say so instead of failing; whatever the
    // values, the axis is finite, holds them and has a few round ticks.
    void degenerateCharts_data()
    {
        QTest::addColumn<QVector<QPointF>>("points");
        QTest::newRow("no points") << QVector<QPointF>();
        QTest::newRow("one point") << QVector<QPointF>{{5, 1.0}};
        QTest::newRow("flat") << QVector<QPointF>{{1, 0.0}, {2, 0.0}, {3, 0.0}};
        // Equal readings whose means differ in the last bit: a span of 1e-16 of the level.
        QTest::newRow("flat, not zero") << QVector<QPointF>{{1, 4e-3}, {2, 4e-3 + 8.7e-19}};
        QTest::newRow("1e-300 span") << QVector<QPointF>{{1, 1e-300}, {2, 2e-300}};
        QTest::newRow("flat near the smallest doubles")
            << QVector<QPointF>{{1, 1.5664563422365144e-305}, {2, 7.120237705348272e-306}};
        QTest::newRow("largest doubles") << QVector<QPointF>{{1, -1.7e308}, {1e308, 1.7e308}};
        QTest::newRow("infinities") << QVector<QPointF>{{1, -qInf()}, {qInf(), 1}, {3, 2}};
    }

    void degenerateCharts()
    {
        QFETCH(QVector<QPointF>, points);
        for (auto style : {PlotChart::Style::LineAndMarkers, PlotChart::Style::Stems}) {
            PlotChart chart;
            chart.setTitle(QStringLiteral("edge"));
            chart.addSeries({QStringLiteral("s"), points, kDataColour, style, Qt::SolidLine});
            chart.addReference({-1, QStringLiteral("limit"), Qt::red});
            const QImage image = PlotExport::image(chart, QSize(400, 300));
            QCOMPARE(image.size(), QSize(400, 300));
            QVERIFY(nonWhitePixels(image) > 1000);
        }
        double low = qInf();
        double high = -qInf();
        for (const QPointF &p : points) {
            low = std::isfinite(p.y()) ? std::min(low, p.y()) : low;
            high = std::isfinite(p.y()) ? std::max(high, p.y()) : high;
        }
        const PlotAxis axis = PlotAxis::around(low, high, 0.05, 0, 0);
        QVERIFY(std::isfinite(axis.low) && std::isfinite(axis.high) && axis.low < axis.high);
        // Values beyond 1e300 lie outside, where the clip removes them.
        if (low <= high)
            QVERIFY(axis.low <= std::max(low, -1e300) && axis.high >= std::min(high, 1e300));
        const qsizetype ticks = axis.ticks().size();
        QVERIFY2(ticks >= 2 && ticks <= 12, qPrintable(QString::number(ticks)));
    }

    // Far more codes than pixels: each style still draws the whole range of the values.
    void manyCodes()
    {
        using Style = PlotChart::Style;
        for (int codes : {4096, 1000000}) {
            for (Style style : {Style::Stems, Style::Line, Style::Markers}) {
                PlotChart::Series series;
                series.style = style;
                series.color = kDataColour;
                for (int code = 1; code <= codes; ++code)
                    series.points.append(QPointF(code, std::sin(code * 200.0 / codes) * 0.3));
                PlotChart chart;
                chart.addSeries(series);
                chart.setXMinimumStep(1);
                const QImage image = PlotExport::image(chart, QSize(1000, 640));
                // The ink of the curve spans the chart's height: the peaks at +-0.3 are kept.
                int top = image.height();
                int bottom = 0;
                for (int y = 0; y < image.height(); ++y) {
                    for (int x = 0; x < image.width(); ++x) {
                        if (image.pixelColor(x, y) == kDataColour) {
                            top = std::min(top, y);
                            bottom = std::max(bottom, y);
                        }
                    }
                }
                QVERIFY2(
                    bottom - top > 400,
                    qPrintable(QStringLiteral("%1 codes, style %2").arg(codes).arg(int(style))));
            }
        }
    }

    // Missing and non-monotonic codes are marked where they are, and the ideal line is drawn
    // when there is one.
    void chartContent()
    {
        LinearityReport nonMonotonic = report("nonmonotonic.txt");
        nonMonotonic.ideal = IdealLine{1e-3, 0.0};
        const PlotChart transfer = ReportPlots::transfer(nonMonotonic);
        QCOMPARE(transfer.series().at(3).points, (QVector<QPointF>{{1, 1.0}, {6, 6.0}}));
        QCOMPARE(transfer.series().at(4).points, (QVector<QPointF>{{4, 2.8}}));
        QCOMPARE(ReportPlots::inl(nonMonotonic).series().at(2).points.at(0).x(), 4.0);
        QCOMPARE(ReportPlots::dnl(nonMonotonic).series().at(1).points.at(0).y(),
                 nonMonotonic.result.leastSquares.dnl.at(3));
    }

    // Standard deviation and range per code, scaled to the unit's prefix for the largest range
    // (2 mV here); a code with one reading has a range but no deviation, one without none.
    void spreadChart()
    {
        const double nan = std::nan("");
        LinearityReport spread;
        spread.unit = QStringLiteral("V");
        spread.steps = {{1, 2, 0, 0, 0, 1.001, std::sqrt(2e-6), 1.000, 1.002},
                        {3, 1, 0, 0, 0, 3.0, nan, 3.0, 3.0},
                        {4, 0, 1, 0, 0, nan, nan, nan, nan}};
        const PlotChart chart = SpreadPlot::chart(spread);
        const QVector<QPointF> &deviation = chart.series().at(0).points;
        const QVector<QPointF> &range = chart.series().at(1).points;
        QCOMPARE(deviation.size(), 3);
        QVERIFY(std::fabs(deviation.at(0).y() - std::sqrt(2.0)) < 1e-9);
        QVERIFY(std::fabs(range.at(0).y() - 2.0) < 1e-9);
        QVERIFY(std::isnan(deviation.at(1).y()) && range.at(1) == QPointF(3, 0));
        QVERIFY(std::isnan(range.at(2).y()));
    }
};

QTEST_MAIN(TestReportPlots)
#include "tst_reportplots.moc"
