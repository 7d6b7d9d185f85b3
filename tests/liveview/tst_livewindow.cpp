// The live window, offscreen: the rows of a running sweep appear within a second of their
// writing; when the run is over the window shows the report on its files and, with limits,
// the verdict.
#include "liveview/ChartView.h"
#include "liveview/LiveWindow.h"
#include "report/LiveRun.h"
#include "report/ReportSummary.h"
#include "tests/liveview/SweepWriter.h"
#include "tests/support/TestSeed.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtGlobal>
#include <QtTest>

#include <cmath>
#include <numeric>

namespace {

// A row is on the screen within a second of its line end. A build with the
// sanitizers runs every redraw several times slower, and the window spaces its
// redraws by their cost: there the bound only shows that rows keep coming.
int shownWithinMs()
{
    return qEnvironmentVariableIsSet("ASAN_OPTIONS") ? 5000 : 1000;
}

// The codes the transfer chart shows a mean reading for.
qsizetype codesShown(const LiveWindow &window)
{
    const QList<PlotChart::Series> &series = window.transferView()->chart().series();
    return series.isEmpty()
               ? 0
               : std::count_if(series.first().points.begin(), series.first().points.end(),
                               [](const QPointF &p) { return std::isfinite(p.y()); });
}

} // namespace

class TestLiveWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("benchtest.results.debug=false"));
    }

    // A writer appends a step now and then; each shows in the charts and the status line
    // within a second of its line end, then the end line brings the report and the verdict.
    void runningSweep_rowsShownWithinASecond()
    {
        QRandomGenerator random(testSeed(QTest::currentTestFunction()));
        QTemporaryDir folder;
        QVector<qint64> codes(12);
        std::iota(codes.begin(), codes.end(), 1);
        SweepWriter writer(folder.path(), codes, 2);
        LiveRun live(writer.file());
        LiveWindow window(&live, IdealLine{}, {{Limit::Inl, 50}});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        live.start();
        for (int step = 1; step <= 12; ++step) {
            QTest::qWait(random.bounded(150));
            writer.writeStep();
            QTRY_VERIFY_WITH_TIMEOUT(codesShown(window) == step, shownWithinMs());
            QVERIFY2(window.statusText().contains(
                         QStringLiteral("step %1 of 12, %1 codes, running").arg(step)),
                     qPrintable(window.statusText()));
        }
        QCOMPARE(window.inlView()->chart().series().first().points.size(), 12);
        QCOMPARE(window.summaryText(), QString());

        QSignalSpy reported(&window, &LiveWindow::finalReportShown);
        writer.finish();
        QVERIFY(reported.wait(5000));
        QCOMPARE(window.summaryText(),
                 ReportSummary::text(ReportBuilder::build(
                     {writer.file()}, ReportBuilder::Grouping::Pooled, {}, {{Limit::Inl, 50}})));
        QCOMPARE(window.verdictText(), QStringLiteral("PASS"));
    }
};

QTEST_MAIN(TestLiveWindow)
#include "tst_livewindow.moc"
