// A sweep that went up and back down: which rows count as up and as down,
// the difference per code and its maximum (worked out by hand below), in the
// summary, the JSON and the CSV; and sweeps that did not go both ways.
#include "report/ReportBuilder.h"
#include "report/ReportCsv.h"
#include "report/ReportJson.h"
#include "report/ReportSummary.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// A result file of runs; each run is rows "code<TAB>reading<TAB>reading…".
QByteArray resultFile(const QList<QStringList> &runs)
{
    QByteArray text;
    for (const QStringList &rows : runs) {
        text += "测试项: [DAC]\n测试名: [R7]\n测试人: [QA]\n开始时间: [261206 105225]\n\n"
                "No.\tDAC\tDMM1\tDMM2\n";
        for (qsizetype i = 0; i < rows.size(); ++i)
            text += QByteArray::number(i + 1) + '\t' + rows.at(i).toUtf8() + '\n';
        text += "\n完成时间: [261206 105232]\n";
    }
    return text;
}

ReportSet build(const QList<QByteArray> &files,
                ReportBuilder::Grouping grouping = ReportBuilder::Grouping::Pooled,
                const QVector<Limit> &limits = {})
{
    ReportBuilder builder(grouping, IdealLine{}, limits);
    for (qsizetype i = 0; i < files.size(); ++i) {
        QBuffer buffer;
        buffer.setData(files.at(i));
        buffer.open(QIODevice::ReadOnly);
        builder.addFile(&buffer, QStringLiteral("sweep%1.txt").arg(i + 1));
    }
    return builder.finish();
}

bool near(double actual, double expected)
{
    return std::fabs(actual - expected) <= 1e-12;
}

// 0 1 2 3 2 1 0, two readings a row. Up: code 0 (first row, left going up),
// 1, 2; the top code 3 is a turn; down: 2, 1 and 0 (last row, reached going
// down). Up minus down: code 0 (1.00 + 1.02) / 2 - 0.98 = +0.03; code 1
// 2.00 - 2.02 (the ERR cell left out) = -0.02; code 2 3.10 - (3.00 + 3.04) / 2 = +0.08.
const QStringList kUpDown = {"0\t1.00\t1.02", "1\t2.00\t2.00", "2\t3.10\t3.10", "3\t4.00\t4.00",
                             "2\t3.00\t3.04", "1\t2.02\tERR",  "0\t0.98\t0.98"};

} // namespace

class tst_Hysteresis : public QObject
{
    Q_OBJECT

private slots:
    void upAndDownWorkedOutByHand_shownInTheSummaryJsonAndCsv();
    void noHysteresisWithoutBothWaysInOneRun_data();
    void noHysteresisWithoutBothWaysInOneRun();
    void repeatedVisitsAndPooledRuns();
    void sparseSweepHasNoMissingCodeVerdict();
};

void tst_Hysteresis::upAndDownWorkedOutByHand_shownInTheSummaryJsonAndCsv()
{
    const ReportSet set = build({resultFile({kUpDown})});
    QVERIFY2(set.errors.isEmpty(), qPrintable(set.errors.join('\n')));
    const HysteresisResult &h = set.reports.first().hysteresis;
    QVERIFY(h.sweptBothWays());
    QCOMPARE(h.points.size(), 3);
    const double expected[] = {0.03, -0.02, 0.08};
    for (int code = 0; code < 3; ++code) {
        QCOMPARE(h.points.at(code).code, code);
        QVERIFY2(near(h.differenceAt(code), expected[code]), qPrintable(QString::number(code)));
    }
    QVERIFY(near(h.points.at(2).downMean, 3.02) && h.points.at(1).downCount == 1); // ERR left out
    QVERIFY(std::isnan(h.differenceAt(3)));
    QVERIFY(h.maximum.valid && h.maximum.code == 2 && near(h.maximum.value, 0.08));
    // Pooling by code is untouched: code 2 holds all four of its readings.
    QCOMPARE(set.reports.first().steps.at(2).count, 4);
    QVERIFY(near(set.reports.first().steps.at(2).mean, 3.06));

    // Shown in the summary, the JSON and the CSV.
    const double gain = set.reports.first().result.leastSquares.line.gain;

    const QString summary = ReportSummary::text(set);
    const QString line = QStringLiteral("  Hysteresis:          max %1 LSB (+0.08 V) at code 2, up "
                                        "minus down, over 3 codes measured both ways\n")
                             .arg(QLatin1Char('+') + QString::number(0.08 / gain, 'f', 4));
    QVERIFY2(summary.contains(line), qPrintable(summary));

    const QJsonObject json = ReportJson::object(set, {{}, true});
    const QJsonObject reportJson = json.value("reports").toArray().first().toObject();
    const QJsonObject hysteresis = reportJson.value("hysteresis").toObject();
    QCOMPARE(hysteresis.value("codes").toInt(), 3);
    const QJsonObject max = hysteresis.value("max").toObject();
    QCOMPARE(max.value("code").toInt(), 2);
    QVERIFY(near(max.value("lsb").toDouble(), 0.08 / gain));
    const QJsonArray steps = reportJson.value("steps").toArray();
    QVERIFY(near(steps.at(1).toObject().value("hysteresis").toDouble(), -0.02));
    QVERIFY(steps.at(3).toObject().value("hysteresis").isNull());

    QTemporaryDir folder;
    QString error;
    QVERIFY2(ReportCsv::write(set, folder.filePath("steps.csv"), &error), qPrintable(error));
    QFile csv(folder.filePath("steps.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.at(0), QByteArray("code,n,mean,sd,min,max,inl,dnl,hysteresis"));
    QVERIFY2(lines.at(1).startsWith("0,4,") && lines.at(1).endsWith(",0.030000000000000027"),
             lines.at(1).constData());
    QVERIFY2(lines.at(4).startsWith("3,2,4,0,4,4,") && lines.at(4).endsWith(','),
             lines.at(4).constData());
}

void tst_Hysteresis::noHysteresisWithoutBothWaysInOneRun_data()
{
    QTest::addColumn<QList<QStringList>>("runs");

    QTest::newRow("up only") << QList<QStringList>{{"0\t1\t1", "1\t2\t2", "2\t3\t3"}};
    // The jump back to the start is a turn, not a way down.
    QTest::newRow("up, repeated") << QList<QStringList>{
        {"0\t1\t1", "1\t2\t2", "2\t3\t3", "0\t1\t1", "1\t2\t2", "2\t3\t3"}};
    // Up in one run and down in another holds the drift between the runs.
    QTest::newRow("up in one run, down in the next")
        << QList<QStringList>{{"0\t1\t1", "1\t2\t2", "2\t3\t3"}, {"2\t3\t3", "1\t2\t2", "0\t1\t1"}};
    QTest::newRow("one code only") << QList<QStringList>{{"5\t1\t1", "5\t1\t1"}};
    // The down rows have no valid reading.
    QTest::newRow("no reading on the way down")
        << QList<QStringList>{{"0\t1\t1", "1\t2\t2", "2\t3\t3", "1\tERR\tERR", "0\tERR\tERR"}};
}

void tst_Hysteresis::noHysteresisWithoutBothWaysInOneRun()
{
    QFETCH(QList<QStringList>, runs);
    const ReportSet set = build({resultFile(runs)});
    QVERIFY2(set.errors.isEmpty(), qPrintable(set.errors.join('\n')));
    QVERIFY(!set.reports.first().hysteresis.sweptBothWays());
    // The outputs are those of a report without hysteresis.
    QVERIFY(!ReportSummary::text(set).contains("Hysteresis"));
    QVERIFY(ReportJson::object(set, {})["reports"][0]["hysteresis"].isNull());
    QTemporaryDir folder;
    QString error;
    QVERIFY(ReportCsv::write(set, folder.filePath("steps.csv"), &error));
    QFile csv(folder.filePath("steps.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readLine(), QByteArray("code,n,mean,sd,min,max,inl,dnl\n"));
}

void tst_Hysteresis::repeatedVisitsAndPooledRuns()
{
    // Two rows of a code in a row are one visit: 0 0 (up), 1 1 (the turn), 0 0 (down).
    const QStringList plateau = {"0\t1.0\t1.0", "0\t1.2\t1.2", "1\t2\t2",
                                 "1\t2\t2",     "0\t0.9\t0.9", "0\t0.9\t0.9"};
    ReportSet set = build({resultFile({plateau})});
    HysteresisResult h = set.reports.first().hysteresis;
    QCOMPARE(h.points.size(), 1);
    QVERIFY(near(h.points.first().difference, 1.1 - 0.9));
    QCOMPARE(h.points.first().upCount, 4);

    // Up and down in two runs, the second 0.1 lower: pooled, code 0 is
    // (1.00 + 1.00 + 0.90 + 0.90) / 4 up and (0.90 + 0.96 + 0.80 + 0.86) / 4 down.
    const QStringList first = {"0\t1.00\t1.00", "1\t2\t2", "0\t0.90\t0.96"};
    const QStringList second = {"0\t0.90\t0.90", "1\t1.9\t1.9", "0\t0.80\t0.86"};
    set = build({resultFile({first}), resultFile({second})});
    h = set.reports.first().hysteresis;
    QCOMPARE(h.points.size(), 1);
    QVERIFY(near(h.points.first().upMean, 0.95));
    QVERIFY(near(h.points.first().downMean, 0.88));
    QVERIFY(near(h.points.first().difference, 0.07));

    // Per run, each run by itself.
    set = build({resultFile({first, second})}, ReportBuilder::Grouping::PerRun);
    QCOMPARE(set.reports.size(), 2);
    QVERIFY(near(set.reports.at(0).hysteresis.points.first().difference, 1.00 - 0.93));
    QVERIFY(near(set.reports.at(1).hysteresis.points.first().difference, 0.90 - 0.83));
}

// Every 64th code: no two adjacent codes, so no code can be judged missing.
// A missing-code limit then cannot pass, and the summary says why.
void tst_Hysteresis::sparseSweepHasNoMissingCodeVerdict()
{
    const ReportSet set = build({resultFile({{"0\t0.0\t0.0", "64\t0.05\t0.05", "128\t0.1\t0.1",
                                              "64\t0.05\t0.05", "0\t0.0\t0.0"}})},
                                ReportBuilder::Grouping::Pooled, {Limit{Limit::MissingCodes, 0}});
    const LinearityReport &report = set.reports.first();
    QCOMPARE(report.result.missingCodesJudged, 0);
    QVERIFY(!set.passes());
    QVERIFY2(ReportSummary::text(set).contains(
                 "  Missing codes:       - (no two adjacent codes with data to judge by)\n"),
             qPrintable(ReportSummary::text(set)));
    QVERIFY(report.hysteresis.sweptBothWays()); // 0 and 64 both ways, with no difference
    QCOMPARE(report.hysteresis.maximum.value, 0.0);
}

QTEST_APPLESS_MAIN(tst_Hysteresis)
#include "tst_hysteresis.moc"
