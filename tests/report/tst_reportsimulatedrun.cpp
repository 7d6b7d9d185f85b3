// Sweeps run by benchtest-run against benchsim's simulated bench: the report of each result
// file recovers the gain, offset, bow, stuck codes and noise the bench was given, within
// tolerances that follow from that noise.
#include "ReportBuilder.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// One simulated bench as configured, and the sweep run against it.
struct SimulatedSweep
{
    QString test; // benchtest-run's --test: "dac" or "isink"
    QString quantity;
    QString unit;
    double gain = 0;   // V or A per code
    double offset = 0; // V or A at code 0
    double bow = 0;    // peak of the voltage bow, V (the sink has none)
    qint64 fullScale = 0;
    QVector<qint64> stuck;
    double noise = 0; // V or A rms
    int steps = 40;   // codes 1..steps
    int readings = 3;

    QStringList benchsimOptions() const
    {
        QStringList codes;
        for (qint64 code : stuck)
            codes << QString::number(code);
        QStringList options{"--board", "--dmm", "--missing-codes", codes.join(','), "--seed", "42"};
        const auto number = [](double value) {
            return QString::number(value, 'g', 17);
        };
        if (test == QLatin1String("dac"))
            options << "--gain" << number(gain) << "--offset" << number(offset) << "--bow"
                    << number(bow) << "--full-scale" << QString::number(fullScale) << "--noise"
                    << number(noise);
        else
            options << "--sink-gain" << number(gain) << "--sink-offset" << number(offset)
                    << "--current-noise" << number(noise);
        return options;
    }

    // The noiseless output at a code, as benchsim --help defines it.
    double output(qint64 code) const
    {
        qint64 effective = code;
        while (stuck.contains(effective))
            --effective;
        const double x = fullScale > 0 ? qBound(0.0, double(effective) / fullScale, 1.0) : 0.0;
        return offset + gain * double(effective) + bow * 4 * x * (1 - x);
    }

    // Standard error of one code's mean.
    double meanError() const { return noise / std::sqrt(double(readings)); }
};

// A benchsim process with the board, and the benchtest-run that sweeps against it.
class SweepProcess
{
public:
    SweepProcess(const SimulatedSweep &sweep, const QString &folder)
    {
        m_bench.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_bench.start(QStringLiteral(BENCHSIM), sweep.benchsimOptions());
        if (!m_bench.waitForStarted(5000))
            return;
        while (!m_bench.canReadLine() && m_bench.waitForReadyRead(5000)) {
        }
        m_address = QString::fromUtf8(m_bench.readLine()).trimmed();
        QString dmm;
        QString board;
        for (const QString &field : m_address.split(QLatin1Char(' '))) {
            if (field.startsWith(QLatin1String("dmm=")))
                dmm = field.mid(4);
            if (field.startsWith(QLatin1String("board=")))
                board = field.mid(6);
        }
        if (dmm.isEmpty() || board.isEmpty())
            return;
        QStringList options{"--test",   sweep.test, "--dmm",    dmm,
                            "--serial", board,      "--item",   sweep.quantity + "_SIM",
                            "--tester", "QA",       "--output", folder};
        // Var_1 steps, Var_2 settle ms, Var_3 readings, Var_4 interval ms: settle and interval
        // 0 make a sweep of a few seconds.
        for (const QString &var :
             {QStringLiteral("1=%1").arg(sweep.steps), QStringLiteral("2=0"),
              QStringLiteral("3=%1").arg(sweep.readings), QStringLiteral("4=0")})
            options << QStringLiteral("--var") << var;
        m_run.start(QStringLiteral(BENCHTEST_RUN), options);
        m_started = m_run.waitForStarted(5000);
    }

    ~SweepProcess()
    {
        if (m_run.state() != QProcess::NotRunning) {
            m_run.kill();
            m_run.waitForFinished(3000);
        }
        m_bench.terminate();
        if (!m_bench.waitForFinished(3000)) {
            m_bench.kill();
            m_bench.waitForFinished(1000);
        }
    }

    // The result file once the run has finished with its completion line; else empty, with
    // what went wrong in `error`.
    QString resultFile(QString *error)
    {
        if (!m_started) {
            *error = QStringLiteral("no run started; bench said \"%1\"").arg(m_address);
            return QString();
        }
        if (!m_run.waitForFinished(60000) || m_run.exitStatus() != QProcess::NormalExit ||
            m_run.exitCode() != 0) {
            *error = QStringLiteral("benchtest-run failed (exit %1): %2")
                         .arg(m_run.exitCode())
                         .arg(QString::fromLocal8Bit(m_run.readAllStandardError()));
            return QString();
        }
        const QStringList lines = QString::fromLocal8Bit(m_run.readAllStandardOutput())
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines.isEmpty() ? QString() : lines.last().trimmed();
    }

private:
    QString m_address;
    bool m_started = false;
    QProcess m_bench;
    QProcess m_run;
};

struct Line
{
    double gain = 0;
    double offset = 0;
    double at(double code) const { return offset + gain * code; }
};

// Ordinary least squares through the noiseless outputs of codes 1..steps.
Line leastSquaresOf(const SimulatedSweep &sweep)
{
    const int n = sweep.steps;
    const double meanCode = (n + 1) / 2.0;
    double meanOutput = 0;
    for (int code = 1; code <= n; ++code)
        meanOutput += sweep.output(code) / n;
    double sxx = 0;
    double sxy = 0;
    for (int code = 1; code <= n; ++code) {
        sxx += (code - meanCode) * (code - meanCode);
        sxy += (code - meanCode) * (sweep.output(code) - meanOutput);
    }
    return {sxy / sxx, meanOutput - sxy / sxx * meanCode};
}

#define VERIFY_WITHIN(actual, expected, tolerance)                                                 \
    QVERIFY2(std::fabs((actual) - (expected)) <= (tolerance),                                      \
             qPrintable(QStringLiteral("%1 is %2, expected %3 +- %4")                              \
                            .arg(QLatin1String(#actual))                                           \
                            .arg(actual, 0, 'g', 9)                                                \
                            .arg(expected, 0, 'g', 9)                                              \
                            .arg(tolerance, 0, 'g', 3)))

// Tolerances are this many standard errors of the figure.
const double kSigmas = 5;

} // namespace

Q_DECLARE_METATYPE(SimulatedSweep)

class TestReportSimulatedRun : public QObject
{
    Q_OBJECT

private slots:
    // Both sweeps run at once against benches of their own; each takes about five seconds.
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        std::vector<std::unique_ptr<SweepProcess>> processes;
        for (const SimulatedSweep &sweep : sweeps())
            processes.push_back(std::make_unique<SweepProcess>(sweep, m_folder.path()));
        QStringList errors;
        for (const auto &process : processes) {
            QString error;
            m_files.append(process->resultFile(&error));
            if (m_files.last().isEmpty())
                errors.append(error);
        }
        processes.clear(); // stops the benches
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    }

    void recoversTheBench_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<SimulatedSweep>("sweep");
        const QList<SimulatedSweep> list = sweeps();
        for (int i = 0; i < list.size(); ++i)
            QTest::newRow(qPrintable(list.at(i).quantity)) << i << list.at(i);
    }

    void recoversTheBench()
    {
        QFETCH(int, index);
        QFETCH(SimulatedSweep, sweep);
        const ReportSet set = ReportBuilder::build(QStringList{m_files.at(index)},
                                                   ReportBuilder::Grouping::Pooled, IdealLine{});
        QVERIFY2(set.errors.isEmpty(), qPrintable(set.errors.join('\n')));
        QCOMPARE(set.warnings, QStringList());
        const LinearityReport &report = set.reports.first();
        const LinearityResult &r = report.result;
        QCOMPARE(report.quantity, sweep.quantity);
        QCOMPARE(report.unit, sweep.unit);
        QCOMPARE(r.codesWithData, sweep.steps);
        QCOMPARE(r.validReadings, sweep.steps * sweep.readings);
        QCOMPARE(r.errReadings + r.invalidReadings, 0);

        const int n = sweep.steps;
        const double sm = sweep.meanError();
        // The end points are healthy codes, and the bow spans codes 0..steps + 1, so it is
        // alike at both: the end-point line has the configured gain exactly, and its offset
        // is the configured one plus the bow at code 1.
        QCOMPARE(sweep.output(n) - sweep.output(1), sweep.gain * (n - 1));
        const double epGainError = sm * std::sqrt(2.0) / (n - 1);
        VERIFY_WITHIN(r.endPoint.line.gain, sweep.gain, kSigmas * epGainError);
        const double epOffsetError = sm * std::hypot(double(n) / (n - 1), 1.0 / (n - 1));
        VERIFY_WITHIN(r.endPoint.line.offset, sweep.output(1) - sweep.gain,
                      kSigmas * epOffsetError);

        // Stuck codes (and, were it lopsided, the bow) tilt the least-squares line.
        const Line lsq = leastSquaresOf(sweep);
        const double sxx = n * (double(n) * n - 1) / 12;
        const double meanCode = (n + 1) / 2.0;
        VERIFY_WITHIN(r.leastSquares.line.gain, lsq.gain, kSigmas * sm / std::sqrt(sxx));
        VERIFY_WITHIN(r.leastSquares.line.offset, lsq.offset,
                      kSigmas * sm * std::sqrt(1.0 / n + meanCode * meanCode / sxx));

        // INL at every code against both lines: one mean and at most two others move it,
        // so its standard error is at most sqrt(3) sm, in LSB.
        const double inlTolerance = kSigmas * std::sqrt(3.0) * sm / sweep.gain;
        const Line ep{sweep.gain, sweep.output(1) - sweep.gain};
        double bowInl = 0;
        for (int i = 0; i < n; ++i) {
            const qint64 code = report.steps.at(i).code;
            QCOMPARE(code, qint64(i + 1));
            const double epInl = (sweep.output(code) - ep.at(code)) / ep.gain;
            VERIFY_WITHIN(r.endPoint.inl.at(i), epInl, inlTolerance);
            VERIFY_WITHIN(r.leastSquares.inl.at(i), (sweep.output(code) - lsq.at(code)) / lsq.gain,
                          inlTolerance);
            if (std::fabs(epInl) > std::fabs(bowInl))
                bowInl = epInl;
        }
        // The largest end-point INL: the bow's peak for the DAC (+0.904 x bow / gain at
        // mid-scale), a stuck code's -1 LSB for the sink.
        VERIFY_WITHIN(r.endPoint.inlMax.value, bowInl, inlTolerance);
        if (sweep.bow > 0)
            QVERIFY(std::fabs(r.endPoint.inlMax.code - (n + 1) / 2.0) <= 3);

        // Every stuck code is found and no healthy one; noise may tip a stuck code below the
        // one before it, but no healthy code.
        QCOMPARE(r.missingCodes, sweep.stuck);
        for (qint64 code : r.nonMonotonicCodes)
            QVERIFY2(sweep.stuck.contains(code), qPrintable(QString::number(code)));

        // The pooled standard deviation over n (readings - 1) degrees of freedom has a
        // relative standard error of 1 / sqrt(2 dof).
        const int dof = n * (sweep.readings - 1);
        QCOMPARE(r.noiseDegreesOfFreedom, dof);
        VERIFY_WITHIN(r.noise / sweep.noise, 1.0, kSigmas / std::sqrt(2.0 * dof));
    }

private:
    static QList<SimulatedSweep> sweeps()
    {
        // A DAC of 0.8 mV per code with a bow of 1.9 LSB and noise of 0.025 LSB; a current
        // sink of 10 uA per code with noise of 0.02 LSB.
        SimulatedSweep dac{"dac", "DAC", "V", 0.0008, 0.002, 0.0015, 41, {10, 31}, 2e-5};
        SimulatedSweep isink{"isink", "ISINK", "A", 1e-5, 2e-6, 0, 0, {7, 25}, 2e-7};
        return {dac, isink};
    }

    QTemporaryDir m_folder;
    QStringList m_files;
};

QTEST_GUILESS_MAIN(TestReportSimulatedRun)
#include "tst_reportsimulatedrun.moc"
