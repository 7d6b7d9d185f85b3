#include "ReportBuilder.h"
#include "ResultFileReader.h"

#include <QtTest>

#include <cmath>

namespace {

const double kNaN = std::nan("");

QString dataFile(const QString &name)
{
    return QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/report/data/") + name;
}

// Equal within a relative 1e-9, or absolute 1e-12 near zero; NaN equals NaN.
bool near(double actual, double expected)
{
    if (std::isnan(expected))
        return std::isnan(actual);
    return std::fabs(actual - expected) <= 1e-9 * std::fabs(expected) + 1e-12;
}

#define COMPARE_NEAR(actual, expected)                                                             \
    QVERIFY2(near((actual), (expected)), qPrintable(QStringLiteral("%1 is %2, expected %3")        \
                                                        .arg(QLatin1String(#actual))               \
                                                        .arg(actual, 0, 'g', 17)                   \
                                                        .arg(expected, 0, 'g', 17)))

LinearityReport pooledReport(const QString &name, const IdealLine &ideal = {})
{
    const ReportSet set =
        ReportBuilder::build({dataFile(name)}, ReportBuilder::Grouping::Pooled, ideal);
    if (set.reports.size() != 1)
        qFatal("%s gave %d reports", qPrintable(name), int(set.reports.size()));
    return set.reports.first();
}

// A run of one reading per code, for cases that need no file.
ResultRun sweep(const QVector<double> &outputs, const QString &quantity = QStringLiteral("DAC"),
                qint64 firstCode = 1)
{
    ResultRun run;
    run.quantity = quantity;
    run.testItem = QStringLiteral("MEM");
    for (qsizetype i = 0; i < outputs.size(); ++i) {
        ResultRow row;
        row.code = row.number = firstCode + i;
        row.readings = {std::isnan(outputs.at(i)) ? QStringLiteral("ERR")
                                                  : QString::number(outputs.at(i), 'g', 17)};
        row.ended = true;
        run.rows.append(row);
    }
    return run;
}

// A run whose code k (from 1) carries the readings levels[k - 1] + each of `spreads`.
ResultRun spreadSweep(const QVector<double> &levels, const QVector<double> &spreads)
{
    ResultRun run = sweep(levels);
    for (qsizetype i = 0; i < levels.size(); ++i) {
        run.rows[i].readings.clear();
        for (double spread : spreads)
            run.rows[i].readings.append(QString::number(levels.at(i) + spread, 'g', 17));
    }
    return run;
}

ResultFile memoryFile(const QList<ResultRun> &runs)
{
    ResultFile file;
    file.path = QStringLiteral("mem.txt");
    for (ResultRun run : runs) {
        run.file = file.path;
        file.runs.append(run);
    }
    return file;
}

} // namespace

Q_DECLARE_METATYPE(IdealLine)
Q_DECLARE_METATYPE(QList<ResultFile>)

class TestLinearityAnalysis : public QObject
{
    Q_OBJECT

private slots:
    // The synthetic files and their figures, worked out by hand from the means.
    void sweepFigures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("lsqGain");
        QTest::addColumn<double>("lsqOffset");
        QTest::addColumn<double>("epGain");
        QTest::addColumn<double>("epOffset");
        QTest::addColumn<double>("lsqInl");
        QTest::addColumn<qint64>("lsqInlCode"); // -1: INL is nil everywhere
        QTest::addColumn<double>("epInl");
        QTest::addColumn<qint64>("epInlCode");
        QTest::addColumn<double>("lsqDnl");
        QTest::addColumn<qint64>("lsqDnlCode");
        QTest::addColumn<bool>("monotonic");
        QTest::addColumn<QVector<qint64>>("nonMonotonic");
        QTest::addColumn<QVector<qint64>>("missing");
        QTest::addColumn<QVector<qint64>>("withoutData");
        QTest::addColumn<double>("noise");
        QTest::addColumn<QVector<int>>("readings"); // valid, ERR, invalid

        // 0.125 + 0.25 k, readings 1 mV either side: s = 0.001 * sqrt(2) at every code.
        QTest::newRow("perfect line")
            << "perfect.txt"
            << "V" << 0.25 << 0.125 << 0.25 << 0.125 << 0.0 << qint64(-1) << 0.0 << qint64(-1)
            << 0.0 << qint64(-1) << true << QVector<qint64>() << QVector<qint64>()
            << QVector<qint64>() << 0.001 * std::sqrt(2.0) << QVector<int>{16, 0, 0};
        // 1, 2.4, 3.3, 4.1, 5 mV: least squares 0.97 mV/code + 0.25 mV, residuals -0.22,
        // 0.21, 0.14, -0.03, -0.10 mV; end points 1 mV/code + 0, INL 0, 0.4, 0.3, 0.1, 0.
        QTest::newRow("known bow")
            << "bow.txt"
            << "V" << 0.97e-3 << 0.25e-3 << 1e-3 << 0.0 << -0.22 / 0.97 << qint64(1) << 0.4
            << qint64(2) << 0.43 / 0.97 << qint64(2) << true << QVector<qint64>()
            << QVector<qint64>() << QVector<qint64>() << kNaN << QVector<int>{5, 0, 0};
        // 1, 2, 3, 3, 5, 6 x 0.5 mV: gain 34/35 x 0.5 mV, offset -1/15 x 0.5 mV; INL(4) is
        // -86/105 / (34/35) = -43/51; DNL(5) = 2 / (34/35) - 1 = 18/17.
        QTest::newRow("missing code")
            << "missing.txt"
            << "V" << 34.0 / 35 * 0.5e-3 << -0.5e-3 / 15 << 0.5e-3 << 0.0 << -43.0 / 51 << qint64(4)
            << -1.0 << qint64(4) << 18.0 / 17 << qint64(5) << true << QVector<qint64>()
            << QVector<qint64>{4} << QVector<qint64>() << 0.0 << QVector<int>{12, 0, 0};
        // 1, 2, 3, 2.8, 4.9, 6 mV: gain 67/70 mV/code, offset -1/15 mV; residual at 4 is
        // 2.8 + 1/15 - 4 x 67/70 mV; end-point INL(4) = 2.8 - 4; DNL(4) = -0.2 x 70/67 - 1.
        QTest::newRow("non-monotonic step")
            << "nonmonotonic.txt"
            << "V" << 67.0 / 70 * 1e-3 << -1e-3 / 15 << 1e-3 << 0.0
            << (2.8 + 1.0 / 15 - 4 * 67.0 / 70) * 70 / 67 << qint64(4) << -1.2 << qint64(4)
            << -0.2 * 70 / 67 - 1 << qint64(4) << false << QVector<qint64>{4} << QVector<qint64>{4}
            << QVector<qint64>() << kNaN << QVector<int>{6, 0, 0};
        // 0.1 mA/code; code 2 all ERR, one ERR at codes 1 and 3, an overload at code 4.
        QTest::newRow("ERR cells")
            << "err.txt"
            << "A" << 1e-4 << 0.0 << 1e-4 << 0.0 << 0.0 << qint64(-1) << 0.0 << qint64(-1) << 0.0
            << qint64(-1) << true << QVector<qint64>() << QVector<qint64>() << QVector<qint64>{2}
            << 0.0 << QVector<int>{6, 5, 1};
        // Means 1.01, 2.01, 3.01 and 4.05 (one reading before the stop): least squares
        // 1.012 k - 0.01, residual -0.016 at 3; end points (4.05 - 1.01) / 3 per code.
        QTest::newRow("stopped run")
            << "stopped.txt"
            << "V" << 1.012 << -0.01 << 3.04 / 3 << 1.01 - 3.04 / 3 << -0.016 / 1.012 << qint64(3)
            << (3.01 - 1.01 - 2 * 3.04 / 3) / (3.04 / 3) << qint64(3) << 1.04 / 1.012 - 1
            << qint64(4) << true << QVector<qint64>() << QVector<qint64>() << QVector<qint64>()
            << 0.01 << QVector<int>{10, 0, 0};
        // Pooled: code 1 reads 1.00, 1.02, 1.02, 1.04; code 2 likewise +1; code 3 reads 3.00,
        // 3.02, 3.04. Pooled variance (3 x 0.0008/3 + 3 x 0.0008/3 + 2 x 0.0004) / 8.
        QTest::newRow("two runs in one file")
            << "tworuns.txt"
            << "V" << 1.0 << 0.02 << 1.0 << 0.02 << 0.0 << qint64(-1) << 0.0 << qint64(-1) << 0.0
            << qint64(-1) << true << QVector<qint64>() << QVector<qint64>() << QVector<qint64>()
            << std::sqrt(0.0003) << QVector<int>{11, 0, 0};
    }

    void sweepFigures()
    {
        QFETCH(QString, file);
        QFETCH(QString, unit);
        QFETCH(double, lsqGain);
        QFETCH(double, lsqOffset);
        QFETCH(double, epGain);
        QFETCH(double, epOffset);
        QFETCH(double, lsqInl);
        QFETCH(qint64, lsqInlCode);
        QFETCH(double, epInl);
        QFETCH(qint64, epInlCode);
        QFETCH(double, lsqDnl);
        QFETCH(qint64, lsqDnlCode);
        QFETCH(bool, monotonic);
        QFETCH(QVector<qint64>, nonMonotonic);
        QFETCH(QVector<qint64>, missing);
        QFETCH(QVector<qint64>, withoutData);
        QFETCH(double, noise);
        QFETCH(QVector<int>, readings);

        const LinearityReport report = pooledReport(file);
        const LinearityResult &r = report.result;
        QCOMPARE(report.unit, unit);
        QVERIFY(r.leastSquares.line.valid);
        QVERIFY(r.endPoint.line.valid);
        COMPARE_NEAR(r.leastSquares.line.gain, lsqGain);
        COMPARE_NEAR(r.leastSquares.line.offset, lsqOffset);
        COMPARE_NEAR(r.endPoint.line.gain, epGain);
        COMPARE_NEAR(r.endPoint.line.offset, epOffset);
        QVERIFY(r.leastSquares.inlMax.valid);
        COMPARE_NEAR(r.leastSquares.inlMax.value, lsqInl);
        COMPARE_NEAR(r.endPoint.inlMax.value, epInl);
        COMPARE_NEAR(r.leastSquares.dnlMax.value, lsqDnl);
        if (lsqInlCode >= 0)
            QCOMPARE(r.leastSquares.inlMax.code, lsqInlCode);
        if (epInlCode >= 0)
            QCOMPARE(r.endPoint.inlMax.code, epInlCode);
        if (lsqDnlCode >= 0)
            QCOMPARE(r.leastSquares.dnlMax.code, lsqDnlCode);
        QCOMPARE(r.monotonic, std::optional<bool>(monotonic));
        QCOMPARE(r.nonMonotonicCodes, nonMonotonic);
        QCOMPARE(r.missingCodes, missing);
        QCOMPARE(r.codesWithoutData, withoutData);
        COMPARE_NEAR(r.noise, noise);
        COMPARE_NEAR(r.noiseLsb, noise / std::fabs(lsqGain));
        QCOMPARE((QVector<int>{r.validReadings, r.errReadings, r.invalidReadings}), readings);
    }

    void bowPerCode()
    {
        const LinearityReport report = pooledReport(QStringLiteral("bow.txt"));
        const LinearityResult &r = report.result;
        const QVector<double> lsqInl = {-0.22 / 0.97, 0.21 / 0.97, 0.14 / 0.97, -0.03 / 0.97,
                                        -0.10 / 0.97};
        const QVector<double> epInl = {0, 0.4, 0.3, 0.1, 0};
        const QVector<double> lsqDnl = {kNaN, 1.4 / 0.97 - 1, 0.9 / 0.97 - 1, 0.8 / 0.97 - 1,
                                        0.9 / 0.97 - 1};
        const QVector<double> epDnl = {kNaN, 0.4, -0.1, -0.2, -0.1};
        QCOMPARE(r.leastSquares.inl.size(), 5);
        for (int i = 0; i < 5; ++i) {
            COMPARE_NEAR(r.leastSquares.inl.at(i), lsqInl.at(i));
            COMPARE_NEAR(r.endPoint.inl.at(i), epInl.at(i));
            COMPARE_NEAR(r.leastSquares.dnl.at(i), lsqDnl.at(i));
            COMPARE_NEAR(r.endPoint.dnl.at(i), epDnl.at(i));
        }
        QCOMPARE(r.endPoint.dnlMax.code, 2);
        COMPARE_NEAR(r.endPoint.dnlMax.value, 0.4);
    }

    void stepStatistics()
    {
        const LinearityReport err = pooledReport(QStringLiteral("err.txt"));
        QCOMPARE(err.steps.size(), 4);
        const StepStats &first = err.steps.at(0);
        QCOMPARE((QVector<int>{first.count, first.errCount, first.invalidCount}),
                 (QVector<int>{2, 1, 0}));
        COMPARE_NEAR(first.mean, 1e-4);
        COMPARE_NEAR(first.stdDev, 0.0);
        const StepStats &silent = err.steps.at(1);
        QCOMPARE(silent.code, 2);
        QCOMPARE((QVector<int>{silent.count, silent.errCount}), (QVector<int>{0, 3}));
        QVERIFY(std::isnan(silent.mean) && std::isnan(silent.stdDev) && std::isnan(silent.min));
        QVERIFY(std::isnan(err.result.leastSquares.inl.at(1)));
        // Code 3 follows a code without data: no DNL, yet it counts for the fit.
        QVERIFY(std::isnan(err.result.leastSquares.dnl.at(2)));
        QCOMPARE(err.steps.at(3).invalidCount, 1);
        COMPARE_NEAR(err.steps.at(3).max, 4e-4);

        const LinearityReport stopped = pooledReport(QStringLiteral("stopped.txt"));
        const StepStats &second = stopped.steps.at(1);
        COMPARE_NEAR(second.mean, 2.01);
        COMPARE_NEAR(second.stdDev, 0.01);
        COMPARE_NEAR(second.min, 2.0);
        COMPARE_NEAR(second.max, 2.02);
        const StepStats &last = stopped.steps.at(3);
        QCOMPARE(last.count, 1);
        COMPARE_NEAR(last.mean, 4.05);
        QVERIFY(std::isnan(last.stdDev));
    }

    void cellClassification_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("value");

        const int valid = int(StepStatistics::CellKind::Valid);
        const int err = int(StepStatistics::CellKind::Err);
        const int invalid = int(StepStatistics::CellKind::Invalid);
        QTest::newRow("meter format") << "+1.23456789E-01" << valid << 0.123456789;
        QTest::newRow("negative current") << "-2.50000000E-04" << valid << -2.5e-4;
        QTest::newRow("plain") << "3" << valid << 3.0;
        QTest::newRow("ERR") << "ERR" << err << 0.0;
        QTest::newRow("empty") << "" << invalid << 0.0;
        QTest::newRow("overload") << "+9.90000000E+37" << invalid << 0.0;
        QTest::newRow("negative overload") << "-9.90000000E+37" << invalid << 0.0;
        QTest::newRow("not a number") << "nan" << invalid << 0.0;
        QTest::newRow("decimal comma") << "1,5" << invalid << 0.0;
        QTest::newRow("two values") << "+1.0E-01,+1.1E-01" << invalid << 0.0;
    }

    void cellClassification()
    {
        QFETCH(QString, cell);
        QFETCH(int, kind);
        QFETCH(double, value);
        double parsed = 0;
        QCOMPARE(int(StepStatistics::classify(cell, &parsed)), kind);
        if (kind == int(StepStatistics::CellKind::Valid))
            COMPARE_NEAR(parsed, value);
    }

    void idealErrors_data()
    {
        QTest::addColumn<IdealLine>("ideal");
        QTest::addColumn<double>("gainError");        // NaN: not reported
        QTest::addColumn<double>("gainErrorPercent"); // NaN: not reported
        QTest::addColumn<double>("offsetError");      // NaN: not reported
        QTest::addColumn<double>("offsetErrorLsb");   // NaN: not reported

        // The perfect file: 0.25 V/code, 0.125 V at code 0.
        QTest::newRow("matching LSB, offset 0.1 V")
            << IdealLine{0.25, 0.1} << 0.0 << 0.0 << 0.025 << 0.1;
        QTest::newRow("LSB 0.2 V, offset defaults to 0")
            << IdealLine{0.2, std::nullopt} << 0.05 << 25.0 << 0.125 << 0.625;
        QTest::newRow("offset only")
            << IdealLine{std::nullopt, 0.125} << kNaN << kNaN << 0.0 << kNaN;
        QTest::newRow("no ideal") << IdealLine{} << kNaN << kNaN << kNaN << kNaN;
    }

    void idealErrors()
    {
        QFETCH(IdealLine, ideal);
        QFETCH(double, gainError);
        QFETCH(double, gainErrorPercent);
        QFETCH(double, offsetError);
        QFETCH(double, offsetErrorLsb);

        const LinearityReport report = pooledReport(QStringLiteral("perfect.txt"), ideal);
        for (const FitFigures *fit : {&report.result.leastSquares, &report.result.endPoint}) {
            COMPARE_NEAR(fit->gainError.value_or(kNaN), gainError);
            COMPARE_NEAR(fit->gainErrorPercent.value_or(kNaN), gainErrorPercent);
            COMPARE_NEAR(fit->offsetError.value_or(kNaN), offsetError);
            COMPARE_NEAR(fit->offsetErrorLsb.value_or(kNaN), offsetErrorLsb);
        }
    }

    // A sink read as negative current falls with the code: that is its direction.
    void decreasingOutput()
    {
        const ReportSet set = ReportBuilder::build(
            {memoryFile({sweep({-1e-4, -2e-4, -3e-4, -2.9e-4, -5e-4, -6e-4, -6e-4, -8e-4},
                               QStringLiteral("ISINK"))})},
            ReportBuilder::Grouping::Pooled, IdealLine{});
        QVERIFY(set.errors.isEmpty());
        const LinearityResult &r = set.reports.first().result;
        QVERIFY(r.leastSquares.line.gain < 0);
        COMPARE_NEAR(r.endPoint.line.gain, -1e-4);
        QCOMPARE(r.monotonic, std::optional<bool>(false));
        QCOMPARE(r.nonMonotonicCodes, (QVector<qint64>{4}));
        QCOMPARE(r.missingCodes, (QVector<qint64>{4, 7}));
        COMPARE_NEAR(r.endPoint.dnl.at(1), 0.0);
        COMPARE_NEAR(r.endPoint.dnl.at(3), -1.1);
        COMPARE_NEAR(r.endPoint.dnl.at(4), 1.1);
    }

    // A stuck code measured with noise reads as DNL -1 +- se; it must still count as missing,
    // while a healthy code well clear of -1 must not.
    void missingCodeUnderNoise_data()
    {
        QTest::addColumn<double>("dnl");   // DNL(5) the means give, in LSB
        QTest::addColumn<double>("se");    // its standard error from the noise, in LSB
        QTest::addColumn<int>("readings"); // per code: 1 (noise unknown) or 4
        QTest::addColumn<bool>("missing");

        QTest::newRow("noiseless stuck code") << -1.0 << 0.0 << 4 << true;
        QTest::newRow("noiseless code at -0.9") << -0.9 << 0.0 << 4 << false;
        QTest::newRow("one reading per code, stuck") << -1.0 << 0.0 << 1 << true;
        QTest::newRow("one reading per code, noise unknown, -0.98") << -0.98 << 0.0 << 1 << false;
        QTest::newRow("stuck code read 1 se high") << -0.98 << 0.02 << 4 << true;
        QTest::newRow("stuck code read 2.9 se high") << -1 + 2.9 * 0.02 << 0.02 << 4 << true;
        QTest::newRow("stuck code read 1.5 se low") << -1.03 << 0.02 << 4 << true;
        QTest::newRow("healthy code 3.1 se above -1") << -1 + 3.1 * 0.02 << 0.02 << 4 << false;
        QTest::newRow("healthy code at -0.9, small se") << -0.9 << 0.01 << 4 << false;
        QTest::newRow("code at -0.9, noise too large to tell") << -0.9 << 0.04 << 4 << true;
    }

    void missingCodeUnderNoise()
    {
        QFETCH(double, dnl);
        QFETCH(double, se);
        QFETCH(int, readings);
        QFETCH(bool, missing);

        // 1 mV per code over codes 1..9; only the middle code 5 moves, so the least-squares
        // gain stays 1 mV and DNL(5) = dnl, DNL(6) = -dnl.
        const double lsb = 1e-3;
        QVector<double> levels;
        for (int code = 1; code <= 9; ++code)
            levels.append((code == 5 ? code + dnl : code) * lsb);
        // Readings y-d, y+d, y-d, y+d: s^2 = 4d^2/3 at every code, and
        // se = s * sqrt(1/4 + 1/4) / lsb, so d = se * lsb * sqrt(2) * sqrt(3) / 2.
        const double d = se * lsb * std::sqrt(6.0) / 2;
        const ResultRun run = readings == 1 ? sweep(levels) : spreadSweep(levels, {-d, d, -d, d});
        const LinearityResult r =
            LinearityAnalysis::analyse(StepStatistics::collect({run}), IdealLine{});

        COMPARE_NEAR(r.leastSquares.line.gain, lsb);
        QVERIFY(std::fabs(r.leastSquares.dnl.at(4) - dnl) < 1e-9);
        if (readings == 1)
            QVERIFY(std::isnan(r.dnlStdError.at(4)));
        else
            QVERIFY(std::fabs(r.dnlStdError.at(4) - se) < 1e-9);
        QVERIFY(std::isnan(r.dnlStdError.at(0)));
        QCOMPARE(r.missingCodes, missing ? QVector<qint64>{5} : QVector<qint64>());
    }

    // Without noise the float residue of a mean must not lift a stuck code off -1: four
    // readings of 0.1 average to 0.1, three (the fourth was ERR) to 0.1 + 1.4e-17.
    void missingCodeFloatResidue()
    {
        QVector<double> levels;
        for (int code = 1; code <= 16; ++code)
            levels.append(0.025 * (code == 5 ? 4 : code));
        ResultRun run = spreadSweep(levels, {0, 0, 0, 0});
        run.rows[4].readings[3] = QStringLiteral("ERR");
        const QVector<StepStats> steps = StepStatistics::collect({run});
        QVERIFY(steps.at(4).mean > steps.at(3).mean); // the residue this is about

        const LinearityResult r = LinearityAnalysis::analyse(steps, IdealLine{});
        QCOMPARE(r.missingCodes, QVector<qint64>{5});
        QCOMPARE(r.nonMonotonicCodes, QVector<qint64>());
    }

    void degenerateSweeps()
    {
        // One code: no line, no verdict on monotonicity.
        LinearityResult r = LinearityAnalysis::analyse(StepStatistics::collect({sweep({1.0})}),
                                                       IdealLine{1.0, 0.0});
        QVERIFY(!r.leastSquares.line.valid && !r.endPoint.line.valid);
        QVERIFY(!r.leastSquares.gainError && !r.leastSquares.offsetError);
        QVERIFY(!r.monotonic.has_value());
        QVERIFY(!r.leastSquares.inlMax.valid);
        QVERIFY(std::isnan(r.noise) && std::isnan(r.noiseLsb));

        // A flat output: a line of gain 0 and no LSB to express INL in; every step is missing.
        r = LinearityAnalysis::analyse(StepStatistics::collect({sweep({2.0, 2.0, 2.0})}), {});
        QVERIFY(r.leastSquares.line.valid);
        QCOMPARE(r.leastSquares.line.gain, 0.0);
        QVERIFY(std::isnan(r.leastSquares.inl.at(1)) && !r.leastSquares.inlMax.valid);
        QCOMPARE(r.monotonic, std::optional<bool>(true));
        QCOMPARE(r.missingCodes, (QVector<qint64>{2, 3}));

        // Code 3 has no row at all: DNL(4) is undefined, yet 4 is compared with 2 for
        // monotonicity.
        ResultRun gap = sweep({1.0, 2.0, 1.5, 5.0});
        gap.rows[2].code = 4;
        gap.rows[3].code = 5;
        r = LinearityAnalysis::analyse(StepStatistics::collect({gap}), {});
        QVERIFY(std::isnan(r.leastSquares.dnl.at(2)));
        QCOMPARE(r.nonMonotonicCodes, (QVector<qint64>{4}));
        QCOMPARE(r.missingCodes, QVector<qint64>());
        QVERIFY(r.codesWithoutData.isEmpty());
    }

    void perRunReports()
    {
        const ReportSet set = ReportBuilder::build({dataFile(QStringLiteral("tworuns.txt"))},
                                                   ReportBuilder::Grouping::PerRun, {});
        QVERIFY(set.errors.isEmpty());
        QCOMPARE(set.reports.size(), 2);
        QCOMPARE(set.reports.at(0).label, QStringLiteral("tworuns.txt run 1"));
        QCOMPARE(set.reports.at(0).runs.size(), 1);
        QVERIFY(!set.reports.at(0).runs.first().finished);
        // Run 1: means 1.01, 2.01, 3.00; run 2: means 1.03, 2.03, 3.03.
        const LinearityResult &one = set.reports.at(0).result;
        COMPARE_NEAR(one.endPoint.line.gain, 0.995);
        COMPARE_NEAR(one.endPoint.line.offset, 0.015);
        COMPARE_NEAR(one.noise, 0.01 * std::sqrt(2.0));
        const LinearityResult &two = set.reports.at(1).result;
        COMPARE_NEAR(two.leastSquares.line.gain, 1.0);
        COMPARE_NEAR(two.leastSquares.line.offset, 0.03);
        COMPARE_NEAR(two.noise, 0.01 * std::sqrt(2.0));
        QCOMPARE(two.validReadings, 6);
    }

    void groupingProblems_data()
    {
        QTest::addColumn<QList<ResultFile>>("files");
        QTest::addColumn<int>("grouping");
        QTest::addColumn<int>("reports");
        QTest::addColumn<QString>("error");   // empty: none expected
        QTest::addColumn<QString>("warning"); // empty: none expected

        const int pooled = int(ReportBuilder::Grouping::Pooled);
        const int perRun = int(ReportBuilder::Grouping::PerRun);
        const ResultRun dac = sweep({1.0, 2.0});
        const ResultRun isink = sweep({1e-4, 2e-4}, QStringLiteral("ISINK"));
        const ResultRun silent = sweep({kNaN, kNaN});
        ResultRun empty = sweep({});
        ResultRun other = sweep({1.0, 2.0}, QStringLiteral("VOUT"));
        ResultFile unreadable;
        unreadable.path = QStringLiteral("gone.txt");
        unreadable.error = QStringLiteral("No such file or directory");

        QTest::newRow("DAC and ISINK pooled")
            << QList<ResultFile>{memoryFile({dac, isink})} << pooled << 0
            << "runs measure different quantities (DAC, ISINK); report them per run" << QString();
        QTest::newRow("DAC and ISINK per run")
            << QList<ResultFile>{memoryFile({dac, isink})} << perRun << 2 << QString() << QString();
        QTest::newRow("only ERR readings") << QList<ResultFile>{memoryFile({silent})} << pooled << 0
                                           << "no valid reading to analyse"
                                           << "all runs: no valid reading";
        QTest::newRow("one silent run of two, per run")
            << QList<ResultFile>{memoryFile({dac, silent})} << perRun << 1 << QString()
            << "mem.txt run 0: no valid reading";
        QTest::newRow("run without rows") << QList<ResultFile>{memoryFile({empty, dac})} << pooled
                                          << 1 << QString() << "mem.txt run 0: no step rows";
        QTest::newRow("file without runs")
            << QList<ResultFile>{memoryFile({dac}), memoryFile({})} << pooled << 0
            << "mem.txt: no result run found" << QString();
        QTest::newRow("unreadable file")
            << QList<ResultFile>{memoryFile({dac}), unreadable} << pooled << 0
            << "gone.txt: cannot read: No such file or directory" << QString();
        QTest::newRow("unknown quantity")
            << QList<ResultFile>{memoryFile({other})} << pooled << 1 << QString()
            << "mem.txt run 0: unknown quantity \"VOUT\", no unit";
    }

    void groupingProblems()
    {
        QFETCH(QList<ResultFile>, files);
        QFETCH(int, grouping);
        QFETCH(int, reports);
        QFETCH(QString, error);
        QFETCH(QString, warning);

        const ReportSet set =
            ReportBuilder::build(files, ReportBuilder::Grouping(grouping), IdealLine{});
        QCOMPARE(set.reports.size(), reports);
        QCOMPARE(set.errors, error.isEmpty() ? QStringList() : QStringList{error});
        QCOMPARE(set.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
        if (reports == 2) {
            QCOMPARE(set.reports.at(0).unit, QStringLiteral("V"));
            QCOMPARE(set.reports.at(1).unit, QStringLiteral("A"));
        }
    }
};

QTEST_GUILESS_MAIN(TestLinearityAnalysis)
#include "tst_linearityanalysis.moc"
