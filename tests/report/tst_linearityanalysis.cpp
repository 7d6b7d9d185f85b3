#include "report/ReportBuilder.h"
#include "report/ReportSummary.h"

#include <QtTest>

#include <cmath>
#include <memory>

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

void addRow(StepStatistics &statistics, qint64 code, const QList<QByteArray> &cells)
{
    ResultRow row;
    row.code = code;
    for (const QByteArray &cell : cells)
        row.readings.push_back(cell);
    statistics.add(row);
}

// The statistics of a sweep whose code 1 + i carries the reading cells cells[i].
QVector<StepStats> stepsOf(const QList<QStringList> &cells)
{
    StepStatistics statistics;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        QList<QByteArray> bytes; // the row's cells point into these
        for (const QString &cell : cells.at(i))
            bytes.append(cell.toUtf8());
        addRow(statistics, 1 + i, bytes);
    }
    return statistics.steps();
}

// Code k (from 1) carries the readings levels[k - 1] + each of `spreads`.
QList<QStringList> spread(const QVector<double> &levels, const QVector<double> &spreads)
{
    QList<QStringList> cells;
    for (double level : levels) {
        cells.append(QStringList());
        for (double offset : spreads)
            cells.last().append(QString::number(level + offset, 'g', 17));
    }
    return cells;
}

// What a sweep's report must find.
struct Figures
{
    QString unit;
    QVector<double> lines;    // least squares gain and offset, end point gain and offset
    QVector<double> extremes; // largest INL (least squares, end point), DNL (least squares)
    bool monotonic = true;
    QVector<qint64> nonMonotonic;
    QVector<qint64> missing;
    QVector<qint64> withoutData;
    double noise = 0;
    QVector<qint64> readings; // valid, ERR, invalid, cut
};

Figures figures(const QString &unit, const QVector<double> &lines, const QVector<double> &extremes,
                bool monotonic, const QVector<qint64> &nonMonotonic, const QVector<qint64> &missing,
                const QVector<qint64> &withoutData, double noise, const QVector<qint64> &readings)
{
    return {unit, lines, extremes, monotonic, nonMonotonic, missing, withoutData, noise, readings};
}

// Valid readings per code, in code order: "code:count".
QStringList counts(const StepStatistics &statistics)
{
    QStringList texts;
    for (const StepStats &step : statistics.steps())
        texts.append(QStringLiteral("%1:%2").arg(step.code).arg(step.count));
    return texts;
}

enum class Taking
{
    CopyConstruct,
    CopyAssign,
    MoveConstruct,
    MoveAssign,
};

// Takes `from` into a new object the way `taking` says; `from` may be left empty by a move.
std::unique_ptr<StepStatistics> take(StepStatistics &from, Taking taking)
{
    switch (taking) {
    case Taking::CopyConstruct:
        return std::make_unique<StepStatistics>(from);
    case Taking::MoveConstruct:
        return std::make_unique<StepStatistics>(std::move(from));
    case Taking::CopyAssign:
    case Taking::MoveAssign:
        break;
    }
    auto to = std::make_unique<StepStatistics>();
    addRow(*to, 99, {"1"}); // replaced: its own last code must not survive either
    if (taking == Taking::CopyAssign)
        *to = from;
    else
        *to = std::move(from);
    return to;
}

} // namespace

Q_DECLARE_METATYPE(Figures)
Q_DECLARE_METATYPE(Limit)

class TestLinearityAnalysis : public QObject
{
    Q_OBJECT

private slots:
    // The synthetic files and their figures, worked out by hand from the means.
    void sweepFigures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Figures>("expected");
        const QVector<qint64> none;

        // 0.125 + 0.25 k, readings 1 mV either side: s = 0.001 * sqrt(2) at every code.
        QTest::newRow("perfect line")
            << "perfect.txt"
            << figures("V", {0.25, 0.125, 0.25, 0.125}, {0, 0, 0}, true, none, none, none,
                       0.001 * std::sqrt(2.0), {16, 0, 0, 0});
        // 1, 2.4, 3.3, 4.1, 5 mV: least squares 0.97 mV/code + 0.25 mV, residuals -0.22,
        // 0.21, 0.14, -0.03, -0.10 mV; end points 1 mV/code + 0, INL 0, 0.4, 0.3, 0.1, 0.
        QTest::newRow("known bow")
            << "bow.txt"
            << figures("V", {0.97e-3, 0.25e-3, 1e-3, 0}, {-0.22 / 0.97, 0.4, 0.43 / 0.97}, true,
                       none, none, none, kNaN, {5, 0, 0, 0});
        // 1, 2, 3, 3, 5, 6 x 0.5 mV: gain 34/35 x 0.5 mV, offset -1/15 x 0.5 mV; INL(4) is
        // -86/105 / (34/35) = -43/51; DNL(5) = 2 / (34/35) - 1 = 18/17.
        QTest::newRow("missing code")
            << "missing.txt"
            << figures("V", {34.0 / 35 * 0.5e-3, -0.5e-3 / 15, 0.5e-3, 0},
                       {-43.0 / 51, -1, 18.0 / 17}, true, none, {4}, none, 0, {12, 0, 0, 0});
        // 1, 2, 3, 2.8, 4.9, 6 mV: gain 67/70 mV/code, offset -1/15 mV; residual at 4 is
        // 2.8 + 1/15 - 4 x 67/70 mV; end-point INL(4) = 2.8 - 4; DNL(4) = -0.2 x 70/67 - 1.
        QTest::newRow("non-monotonic step")
            << "nonmonotonic.txt"
            << figures("V", {67.0 / 70 * 1e-3, -1e-3 / 15, 1e-3, 0},
                       {(2.8 + 1.0 / 15 - 4 * 67.0 / 70) * 70 / 67, -1.2, -0.2 * 70 / 67 - 1},
                       false, {4}, {4}, none, kNaN, {6, 0, 0, 0});
        // 0.1 mA/code; code 2 all ERR, one ERR at codes 1 and 3, an overload at code 4.
        QTest::newRow("ERR cells")
            << "err.txt"
            << figures("A", {1e-4, 0, 1e-4, 0}, {0, 0, 0}, true, none, none, {2}, 0, {6, 5, 1, 0});
        // Means 1.01, 2.01, 3.01 and 4.05 (one reading before a cut one): least squares
        // 1.012 k - 0.01, residual -0.016 at 3; end points (4.05 - 1.01) / 3 per code.
        QTest::newRow("stopped run")
            << "stopped.txt"
            << figures(
                   "V", {1.012, -0.01, 3.04 / 3, 1.01 - 3.04 / 3},
                   {-0.016 / 1.012, (3.01 - 1.01 - 2 * 3.04 / 3) / (3.04 / 3), 1.04 / 1.012 - 1},
                   true, none, none, none, 0.01, {10, 0, 0, 1});
        // Pooled: code 1 reads 1.00, 1.02, 1.02, 1.04; code 2 likewise +1; code 3 reads 3.00,
        // 3.02, 3.04. Pooled variance (3 x 0.0008/3 + 3 x 0.0008/3 + 2 x 0.0004) / 8.
        QTest::newRow("two runs in one file")
            << "tworuns.txt"
            << figures("V", {1, 0.02, 1, 0.02}, {0, 0, 0}, true, none, none, none,
                       std::sqrt(0.0003), {11, 0, 0, 1});
    }

    void sweepFigures()
    {
        QFETCH(QString, file);
        QFETCH(Figures, expected);

        const LinearityReport report = pooledReport(file);
        const LinearityResult &r = report.result;
        QCOMPARE(report.unit, expected.unit);
        QVERIFY(r.leastSquares.line.valid && r.endPoint.line.valid);
        const QVector<double> figures = {r.leastSquares.line.gain,    r.leastSquares.line.offset,
                                         r.endPoint.line.gain,        r.endPoint.line.offset,
                                         r.leastSquares.inlMax.value, r.endPoint.inlMax.value,
                                         r.leastSquares.dnlMax.value};
        for (int i = 0; i < figures.size(); ++i)
            COMPARE_NEAR(figures.at(i), (expected.lines + expected.extremes).at(i));
        QCOMPARE(r.monotonic, std::optional<bool>(expected.monotonic));
        QCOMPARE(r.nonMonotonicCodes, expected.nonMonotonic);
        QCOMPARE(r.missingCodes, expected.missing);
        QCOMPARE(r.codesWithoutData, expected.withoutData);
        COMPARE_NEAR(r.noise, expected.noise);
        QCOMPARE(
            (QVector<qint64>{r.validReadings, r.errReadings, r.invalidReadings, r.cutReadings}),
            expected.readings);
    }

    // A code with ERR cells only has no statistics; the code after it has no DNL, yet
    // counts for the fit.
    void codeWithoutData()
    {
        const LinearityReport err = pooledReport(QStringLiteral("err.txt"));
        QCOMPARE(err.steps.at(1).count, 0);
        QVERIFY(std::isnan(err.steps.at(1).mean) && std::isnan(err.steps.at(1).stdDev));
        QVERIFY(std::isnan(err.result.leastSquares.dnl.at(2)));
    }

    void cellClassification()
    {
        using Kind = StepStatistics::CellKind;
        double parsed = 0;
        QVERIFY(StepStatistics::classify("+1.23456789E-01", &parsed) == Kind::Valid);
        COMPARE_NEAR(parsed, 0.123456789);
        QVERIFY(StepStatistics::classify("ERR", &parsed) == Kind::Err);
        for (const char *cell : {"", "+9.90000000E+37", "nan", "1e999", "1,5"})
            QVERIFY2(StepStatistics::classify(cell, &parsed) == Kind::Invalid, cell);
    }

    // A sink read as negative current falls with the code: that is its direction.
    void decreasingOutput()
    {
        const LinearityResult r = LinearityAnalysis::analyse(
            stepsOf(spread({-1e-4, -2e-4, -3e-4, -2.9e-4, -5e-4, -6e-4, -6e-4, -8e-4}, {0.0})), {});
        COMPARE_NEAR(r.endPoint.line.gain, -1e-4);
        QCOMPARE(r.nonMonotonicCodes, (QVector<qint64>{4}));
        QCOMPARE(r.missingCodes, (QVector<qint64>{4, 7}));
        COMPARE_NEAR(r.endPoint.dnl.at(3), -1.1);
    }

    // A stuck code measured with noise reads as DNL -1 +- se; it must still count as missing,
    // while a healthy code well clear of -1 must not.
    void missingCodeUnderNoise_data()
    {
        QTest::addColumn<double>("dnl");   // DNL(5) the means give, in LSB
        QTest::addColumn<double>("se");    // its standard error from the noise, in LSB
        QTest::addColumn<int>("readings"); // per code: 1 (noise unknown) or 4
        QTest::addColumn<bool>("missing");
        QTest::addColumn<bool>("weak"); // healthy codes would be flagged by chance

        QTest::newRow("noiseless stuck code") << -1.0 << 0.0 << 4 << true << false;
        QTest::newRow("one reading per code, noise unknown, -0.98")
            << -0.98 << 0.0 << 1 << false << false;
        QTest::newRow("stuck code read 2.9 se high")
            << -1 + 2.9 * 0.02 << 0.02 << 4 << true << false;
        QTest::newRow("healthy code 3.1 se above -1")
            << -1 + 3.1 * 0.02 << 0.02 << 4 << false << false;
        QTest::newRow("code at -0.9, noise too large to tell")
            << -0.9 << 0.04 << 4 << true << false;
        // se 0.2: each healthy code falls below -0.4 with a chance of 2.3 %; 8 codes judged.
        QTest::newRow("healthy code, noise makes the test weak")
            << 0.0 << 0.2 << 4 << false << true;
    }

    void missingCodeUnderNoise()
    {
        QFETCH(double, dnl);
        QFETCH(double, se);
        QFETCH(int, readings);
        QFETCH(bool, missing);
        QFETCH(bool, weak);

        // 1 mV per code over codes 1..9; only the middle code 5 moves, so the least-squares
        // gain stays 1 mV and DNL(5) = dnl, DNL(6) = -dnl.
        const double lsb = 1e-3;
        QVector<double> levels;
        for (int code = 1; code <= 9; ++code)
            levels.append((code == 5 ? code + dnl : code) * lsb);
        // Readings y-d, y+d, y-d, y+d: s^2 = 4d^2/3 at every code, and
        // se = s * sqrt(1/4 + 1/4) / lsb, so d = se * lsb * sqrt(2) * sqrt(3) / 2.
        const double d = se * lsb * std::sqrt(6.0) / 2;
        const LinearityResult r = LinearityAnalysis::analyse(
            stepsOf(readings == 1 ? spread(levels, {0.0}) : spread(levels, {-d, d, -d, d})), {});

        QVERIFY(std::fabs(r.leastSquares.dnl.at(4) - dnl) < 1e-9);
        if (readings == 1)
            QVERIFY(std::isnan(r.dnlStdError.at(4)));
        else
            QVERIFY(std::fabs(r.dnlStdError.at(4) - se) < 1e-9);
        QCOMPARE(r.missingCodes, missing ? QVector<qint64>{5} : QVector<qint64>());
        QCOMPARE(r.expectedFalseMissing >= ReportSummary::kWeakMissingCodeTest, weak);
    }

    // Without noise the float residue of a mean must not lift a stuck code off -1: four
    // readings of 0.1 average to 0.1, three (the fourth was ERR) to 0.1 + 1.4e-17.
    void missingCodeFloatResidue()
    {
        QVector<double> levels;
        for (int code = 1; code <= 16; ++code)
            levels.append(0.025 * (code == 5 ? 4 : code));
        QList<QStringList> cells = spread(levels, {0, 0, 0, 0});
        cells[4][3] = QStringLiteral("ERR");
        const QVector<StepStats> steps = stepsOf(cells);
        QVERIFY(steps.at(4).mean > steps.at(3).mean); // the residue this is about

        const LinearityResult r = LinearityAnalysis::analyse(steps, IdealLine{});
        QCOMPARE(r.missingCodes, QVector<qint64>{5});
        QCOMPARE(r.nonMonotonicCodes, QVector<qint64>());
    }

    // Each limit on the figure it names; a figure that cannot be computed fails.
    void limits_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Limit>("limit");
        QTest::addColumn<double>("value"); // NaN: undefined
        QTest::addColumn<bool>("pass");

        // missing.txt: INL(4) -43/51, DNL(5) 18/17, one missing code, noise 0; gain 34/35 x
        // 0.5 mV against an ideal 0.5 mV: -2.857 %; offset -1/30 mV: -1/15 LSB.
        QTest::newRow("inl over") << "missing.txt" << Limit{Limit::Inl, 0.8} << 43.0 / 51 << false;
        QTest::newRow("gain error")
            << "missing.txt" << Limit{Limit::GainError, 3} << 100.0 / 35 << true;
        QTest::newRow("noise unknown fails")
            << "bow.txt" << Limit{Limit::Noise, 100} << kNaN << false;
    }

    void limits()
    {
        QFETCH(QString, file);
        QFETCH(Limit, limit);
        QFETCH(double, value);
        QFETCH(bool, pass);

        const ReportSet set = ReportBuilder::build(
            {dataFile(file)}, ReportBuilder::Grouping::Pooled, IdealLine{0.5e-3, 0.0}, {limit});
        QCOMPARE(set.reports.size(), 1);
        const LinearityReport &report = set.reports.first();
        QCOMPARE(report.checks.size(), 1);
        COMPARE_NEAR(report.checks.first().value, value);
        QCOMPARE(report.checks.first().pass, pass);
        QCOMPARE(set.passes(), pass);
    }

    // StepStatistics taken along by a copy or a move: each one gathers on its own, whatever
    // happens to the one it came from (which used to leave the copy an iterator into its map:
    // a copy's rows then landed in the original, which is kept here to show it).
    void takenOneGathersAlone_data()
    {
        QTest::addColumn<Taking>("taking");
        QTest::newRow("copied") << Taking::CopyConstruct;
        QTest::newRow("copy assigned") << Taking::CopyAssign;
        QTest::newRow("moved, original gone") << Taking::MoveConstruct;
        QTest::newRow("move assigned, original gone") << Taking::MoveAssign;
    }

    // The taken one goes on at the code its original used last, at the next code and at a new
    // one; the original, while it lives, keeps only what it had and gathers on its own.
    void takenOneGathersAlone()
    {
        QFETCH(Taking, taking);
        auto original = std::make_unique<StepStatistics>();
        for (qint64 code = 1; code <= 3; ++code)
            addRow(*original, code, {"0.5", "0.6"});
        addRow(*original, 2, {"0.7"}); // the last code used is now 2, with 3 after it

        std::unique_ptr<StepStatistics> taken = take(*original, taking);
        if (taking == Taking::MoveConstruct || taking == Taking::MoveAssign)
            original.reset();
        addRow(*taken, 2, {"0.8"});
        addRow(*taken, 3, {"0.9", "ERR"});
        addRow(*taken, 7, {"1.0"});
        QCOMPARE(counts(*taken), QStringList({"1:2", "2:4", "3:3", "7:1"}));
        QCOMPARE(taken->steps().at(2).errCount, 1);

        if (!original)
            return;
        QCOMPARE(counts(*original), QStringList({"1:2", "2:3", "3:2"}));
        addRow(*original, 2, {"0.1"});
        QCOMPARE(counts(*original), QStringList({"1:2", "2:4", "3:2"}));
        QCOMPARE(counts(*taken), QStringList({"1:2", "2:4", "3:3", "7:1"}));
    }
};

QTEST_GUILESS_MAIN(TestLinearityAnalysis)
#include "tst_linearityanalysis.moc"
