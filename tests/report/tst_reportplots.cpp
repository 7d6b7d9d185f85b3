#include "PlotExport.h"
#include "ReportBuilder.h"
#include "ReportPlots.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QSvgRenderer>
#include <QTemporaryDir>
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

    // Charts without usable data still paint axes and say so instead of failing.
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
    }

    // A 12-bit sweep: every code drawn, in a time fit for a test run.
    void manyCodes()
    {
        PlotChart chart;
        PlotChart::Series series;
        series.style = PlotChart::Style::Stems;
        series.color = kDataColour;
        for (int code = 1; code <= 4096; ++code)
            series.points.append(QPointF(code, std::sin(code / 50.0) * 0.3));
        chart.addSeries(series);
        chart.setXMinimumStep(1);
        QElapsedTimer timer;
        timer.start();
        const QImage image = PlotExport::image(chart, QSize(1000, 640));
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(pixelsNear(image, kDataColour) > 20000);
    }

    void files_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("png") << int(ReportPlots::Png);
        QTest::newRow("svg") << int(ReportPlots::Svg);
    }

    void files()
    {
        QFETCH(int, format);
        QTemporaryDir dir;
        const QSize size(900, 560);
        const PlotChart chart = ReportPlots::inl(report("bow.txt"));
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QString error;
        if (format == ReportPlots::Png) {
            const QString path = dir.filePath(QStringLiteral("inl.png"));
            QVERIFY(PlotExport::writePng(chart, path, size, &error));
            QVERIFY(image.load(path, "PNG"));
        } else {
            const QString path = dir.filePath(QStringLiteral("inl.svg"));
            QVERIFY(PlotExport::writeSvg(chart, path, size, &error));
            QSvgRenderer renderer(path);
            QVERIFY(renderer.isValid());
            QCOMPARE(renderer.viewBox(), QRect(QPoint(0, 0), size));
            QPainter painter(&image);
            renderer.render(&painter);
        }
        QCOMPARE(image.size(), size);
        QVERIFY(pixelsNear(image, kDataColour) > 40);
        QVERIFY(error.isEmpty());
    }

    void unwritableTarget_data() { files_data(); }

    void unwritableTarget()
    {
        QFETCH(int, format);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing/folder/plot"));
        const PlotChart chart = ReportPlots::dnl(report("bow.txt"));
        QString error;
        const bool ok = format == ReportPlots::Png
                            ? PlotExport::writePng(chart, path, QSize(300, 200), &error)
                            : PlotExport::writeSvg(chart, path, QSize(300, 200), &error);
        QVERIFY(!ok);
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(path));
    }

    void reportPlotSet()
    {
        QTemporaryDir dir;
        QStringList written;
        QString error;
        QVERIFY(ReportPlots::write(report("missing.txt"), dir.path(), QStringLiteral("run1-"),
                                   ReportPlots::Png | ReportPlots::Svg, QSize(500, 320), &written,
                                   &error));
        QStringList expected;
        for (const char *name : {"transfer", "inl", "dnl"}) {
            expected << dir.filePath(QStringLiteral("run1-%1.png").arg(QLatin1String(name)))
                     << dir.filePath(QStringLiteral("run1-%1.svg").arg(QLatin1String(name)));
        }
        QCOMPARE(written, expected);
        for (const QString &path : written)
            QVERIFY2(QFileInfo(path).size() > 1000, qPrintable(path));

        QStringList none;
        QVERIFY(!ReportPlots::write(report("missing.txt"), dir.filePath(QStringLiteral("no/dir")),
                                    QString(), ReportPlots::Png, QSize(500, 320), &none, &error));
        QVERIFY(error.contains(QStringLiteral("transfer.png")));
        QVERIFY(none.isEmpty());
    }

    // The missing code of the DNL chart is marked, and the transfer chart's axis reads mV.
    void chartContent()
    {
        const LinearityReport missing = report("missing.txt");
        const PlotChart dnl = ReportPlots::dnl(missing);
        QCOMPARE(dnl.series().size(), 2);
        QCOMPARE(dnl.series().at(1).points, (QVector<QPointF>{QPointF(4, -1)}));

        const PlotChart transfer = ReportPlots::transfer(missing);
        QCOMPARE(transfer.series().first().points.at(1), QPointF(2, 1.0));
        QCOMPARE(transfer.series().size(), 3);
        QVERIFY(transfer.title().startsWith(QStringLiteral("MISSING_DAC")));

        QCOMPARE(ReportPlots::dnl(report("bow.txt")).series().size(), 1);
    }
};

QTEST_MAIN(TestReportPlots)
#include "tst_reportplots.moc"
