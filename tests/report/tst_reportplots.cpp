#include "PlotAxis.h"
#include "PlotExport.h"
#include "ReportBuilder.h"
#include "ReportPlots.h"

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

PlotChart chartFor(const QString &which, const LinearityReport &r)
{
    if (which == QLatin1String("transfer"))
        return ReportPlots::transfer(r);
    if (which == QLatin1String("inl"))
        return ReportPlots::inl(r);
    return ReportPlots::dnl(r);
}

int pixelsNear(const QImage &image, const QColor &colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) < 12 &&
                std::abs(c.green() - colour.green()) < 12 &&
                std::abs(c.blue() - colour.blue()) < 12)
                ++count;
        }
    }
    return count;
}

int nonWhitePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                ++count;
        }
    }
    return count;
}

} // namespace

class TestReportPlots : public QObject
{
    Q_OBJECT

private slots:
    void chartImages_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QSize>("size");

        for (const char *which : {"transfer", "inl", "dnl"}) {
            for (const char *file : {"bow.txt", "nonmonotonic.txt", "err.txt"}) {
                QTest::addRow("%s %s", which, file)
                    << QString::fromLatin1(which) << QByteArray(file) << QSize(640, 400);
            }
        }
        QTest::newRow("transfer large") << "transfer" << QByteArray("bow.txt") << QSize(1600, 1000);
        QTest::newRow("dnl small") << "dnl" << QByteArray("missing.txt") << QSize(200, 150);
    }

    void chartImages()
    {
        QFETCH(QString, which);
        QFETCH(QByteArray, file);
        QFETCH(QSize, size);

        const QImage image = PlotExport::image(chartFor(which, report(file.constData())), size);
        QCOMPARE(image.size(), size);
        // Frame, grid, text and data: well above a blank page, well below a filled one.
        const int area = size.width() * size.height();
        const int ink = nonWhitePixels(image);
        QVERIFY2(ink > area / 50 && ink < area / 2, qPrintable(QString::number(ink)));
        // Even a chart with a single defined point shows its marker.
        QVERIFY2(pixelsNear(image, kDataColour) > 10,
                 qPrintable(QString::number(pixelsNear(image, kDataColour))));
    }

    // Charts without usable data still paint axes and say so instead of failing; whatever the
    // values, the axis is finite, holds them and has a few round ticks.
    void degenerateCharts_data()
    {
        QTest::addColumn<QVector<QPointF>>("points");
        const double nan = std::nan("");
        QTest::newRow("no points") << QVector<QPointF>();
        QTest::newRow("only gaps") << QVector<QPointF>{{1, nan}, {2, nan}};
        QTest::newRow("one point") << QVector<QPointF>{{5, 1.0}};
        QTest::newRow("flat") << QVector<QPointF>{{1, 0.0}, {2, 0.0}, {3, 0.0}};
        QTest::newRow("gap inside") << QVector<QPointF>{{1, 1.0}, {2, nan}, {3, 3.0}};
        QTest::newRow("tiny values") << QVector<QPointF>{{1, 1e-12}, {2, 3e-12}};
        // Equal readings whose means differ in the last bit: a span of 1e-16 of the level.
        QTest::newRow("flat, not zero") << QVector<QPointF>{{1, 4e-3}, {2, 4e-3 + 8.7e-19}};
        QTest::newRow("1e-300 span") << QVector<QPointF>{{1, 1e-300}, {2, 2e-300}};
        QTest::newRow("flat near the smallest doubles")
            << QVector<QPointF>{{1, 1.5664563422365144e-305}, {2, 7.120237705348272e-306}};
        QTest::newRow("1e300 span") << QVector<QPointF>{{1, -1e300}, {2, 1e300}};
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
    void manyCodes_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("codes");
        for (int codes : {4096, 1000000}) {
            QTest::addRow("stems, %d", codes) << int(PlotChart::Style::Stems) << codes;
            QTest::addRow("line, %d", codes) << int(PlotChart::Style::Line) << codes;
            QTest::addRow("markers, %d", codes) << int(PlotChart::Style::Markers) << codes;
        }
    }

    void manyCodes()
    {
        QFETCH(int, style);
        QFETCH(int, codes);
        PlotChart::Series series;
        series.style = PlotChart::Style(style);
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
        QVERIFY2(bottom - top > 400, qPrintable(QStringLiteral("%1 to %2").arg(top).arg(bottom)));
    }

    // Missing and non-monotonic codes are marked on every chart, the ideal line drawn when
    // there is one, and the transfer chart's axis reads mV.
    void chartContent()
    {
        LinearityReport nonMonotonic = report("nonmonotonic.txt");
        nonMonotonic.ideal = IdealLine{1e-3, 0.0};
        const PlotChart transfer = ReportPlots::transfer(nonMonotonic);
        QCOMPARE(transfer.series().size(), 6);
        QCOMPARE(transfer.series().at(0).points.at(3), QPointF(4, 2.8));
        QCOMPARE(transfer.series().at(3).name, QStringLiteral("Ideal line"));
        QCOMPARE(transfer.series().at(3).points, (QVector<QPointF>{{1, 1.0}, {6, 6.0}}));
        QCOMPARE(transfer.series().at(4).points, (QVector<QPointF>{{4, 2.8}}));
        QCOMPARE(transfer.series().at(5).name, QStringLiteral("Non-monotonic code"));
        QVERIFY(transfer.title().startsWith(QStringLiteral("NONMONO_DAC")));

        const PlotChart inl = ReportPlots::inl(nonMonotonic);
        QCOMPARE(inl.series().size(), 4);
        QCOMPARE(inl.series().at(2).points.at(0).x(), 4.0);
        QCOMPARE(inl.series().at(2).points.at(0).y(), nonMonotonic.result.leastSquares.inl.at(3));
        const PlotChart dnl = ReportPlots::dnl(nonMonotonic);
        QCOMPARE(dnl.series().size(), 3);
        QCOMPARE(dnl.series().at(1).points.at(0).y(), nonMonotonic.result.leastSquares.dnl.at(3));

        QCOMPARE(ReportPlots::transfer(report("bow.txt")).series().size(), 3);
        QCOMPARE(ReportPlots::dnl(report("bow.txt")).series().size(), 1);
    }
};

QTEST_MAIN(TestReportPlots)
#include "tst_reportplots.moc"
