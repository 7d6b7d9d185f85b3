// A sweep run by benchtest-run against benchsim's simulated bench: the report of the result
// file recovers the gain, bow, stuck codes and noise the bench was given, within tolerances
// that follow from that noise.
#include "report/ReportBuilder.h"
#include "tests/support/RunnerProcess.h"
#include "tests/support/SimulatorProcess.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// The bench: 0.8 mV per code, 2 mV offset, a bow of 1.9 LSB peaking at mid-scale (code
// 20.5 of 41), codes 10 and 31 stuck at the code below, 0.025 LSB of noise.
const double kGain = 0.0008;
const double kOffset = 0.002;
const double kNoise = 2e-5;
const QVector<qint64> kStuck = {10, 31};
const int kSteps = 40;
const int kReadings = 3;

#define VERIFY_WITHIN(actual, expected, tolerance)                                                 \
    QVERIFY2(std::fabs((actual) - (expected)) <= (tolerance),                                      \
             qPrintable(QStringLiteral("%1 is %2, expected %3 +- %4")                              \
                            .arg(QLatin1String(#actual))                                           \
                            .arg(actual, 0, 'g', 9)                                                \
                            .arg(expected, 0, 'g', 9)                                              \
                            .arg(tolerance, 0, 'g', 3)))

} // namespace

class TestReportSimulatedRun : public QObject
{
    Q_OBJECT

private slots:
    void recoversTheBench()
    {
        SimulatorProcess bench;
        QVERIFY2(bench.start({"--board", "--dmm", "--gain", QString::number(kGain), "--offset",
                              QString::number(kOffset), "--bow", "0.0015", "--full-scale", "41",
                              "--missing-codes", "10,31", "--noise", QString::number(kNoise),
                              "--seed", "42"},
                             false),
                 qPrintable(bench.error()));

        // Settle and interval 0 make a sweep of a few seconds.
        QTemporaryDir folder;
        const QStringList sweep{"--var1", QString::number(kSteps),    "--var2", "0",
                                "--var3", QString::number(kReadings), "--var4", "0"};
        const RunnerProcess::Ended ended =
            RunnerProcess(QStringLiteral(BENCHTEST_RUN), folder.filePath("none.ini"))
                .run(sweep + QStringList{"--dmm", bench.address("dmm"), "--serial",
                                         bench.address("board"), "--output", folder.path()});
        QVERIFY2(ended.status == 0, qPrintable(ended.err));
        const QString file = QString::fromLocal8Bit(ended.out).trimmed().section('\n', -1);

        const ReportSet set =
            ReportBuilder::build({file}, ReportBuilder::Grouping::Pooled, IdealLine{});
        QVERIFY2(set.errors.isEmpty(), qPrintable(set.errors.join('\n')));
        QCOMPARE(set.warnings, QStringList());
        const LinearityResult &r = set.reports.first().result;
        QCOMPARE(r.codesWithData, kSteps);
        QCOMPARE(r.validReadings, kSteps * kReadings);
        QCOMPARE(r.errReadings + r.invalidReadings + r.cutReadings, 0);

        // Codes 1 and 40 are healthy and the bow alike at both: the end-point line has the
        // configured gain, within the standard error of two means over 39 codes.
        const double meanError = kNoise / std::sqrt(double(kReadings));
        VERIFY_WITHIN(r.endPoint.line.gain, kGain, 5 * meanError * std::sqrt(2.0) / (kSteps - 1));
        // The bow's peak against the end-point line: +0.904 x bow / gain near mid-scale.
        const double inlTolerance = 5 * std::sqrt(3.0) * meanError / kGain;
        VERIFY_WITHIN(r.endPoint.inlMax.value,
                      0.0015 * (4 * 20.0 / 41 * 21 / 41 - 4 * 1.0 / 41 * 40 / 41) / kGain,
                      inlTolerance);
        QVERIFY(std::fabs(r.endPoint.inlMax.code - 20.5) <= 3);

        QCOMPARE(r.missingCodes, kStuck);
        for (qint64 code : r.nonMonotonicCodes)
            QVERIFY2(kStuck.contains(code), qPrintable(QString::number(code)));
        // A pooled standard deviation over 2 x 40 degrees of freedom: relative error 1/sqrt(160).
        QCOMPARE(r.noiseDegreesOfFreedom, kSteps * (kReadings - 1));
        VERIFY_WITHIN(r.noise / kNoise, 1.0, 5 / std::sqrt(2.0 * kSteps * (kReadings - 1)));
        QVERIFY(r.expectedFalseMissing < 1e-6);
    }
};

QTEST_GUILESS_MAIN(TestReportSimulatedRun)
#include "tst_reportsimulatedrun.moc"
