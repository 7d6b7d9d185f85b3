// The command line of benchtest-run: what it takes, what it refuses and why.
#include "plan/RunPlan.h"
#include "tools/runner/RunnerOptions.h"

#include <QTest>

class tst_RunnerOptions : public QObject
{
    Q_OBJECT

private slots:
    void parse_accepts_data();
    void parse_accepts();
    void parse_refuses_data();
    void parse_refuses();
    void planOptions();
};

namespace {

// The twelve parameter slots as "n=value" for the set ones.
QStringList setVars(const RunnerOptions &options)
{
    QStringList set;
    for (size_t i = 0; i < options.vars.size(); ++i) {
        if (options.vars[i])
            set << QStringLiteral("%1=%2").arg(i + 1).arg(*options.vars[i]);
    }
    return set;
}

} // namespace

// The parameters in their forms; the rest stays at the window's defaults.
void tst_RunnerOptions::parse_accepts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("vars");

    QTest::newRow("nothing") << QStringList{} << QStringList{};
    QTest::newRow("numbered and n=value forms together")
        << QStringList{"--var1", "3", "--var", "2=10", "--var12=-7", "--var", "3=2"}
        << QStringList{"1=3", "2=10", "3=2", "12=-7"};
    QTest::newRow("an emptied parameter is the form's empty field")
        << QStringList{"--var5", ""} << QStringList{"5="};
    QTest::newRow("64-bit limits")
        << QStringList{"--var2", "9223372036854775807", "--var", "4=-9223372036854775808"}
        << QStringList{"2=9223372036854775807", "4=-9223372036854775808"};
}

void tst_RunnerOptions::parse_accepts()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, vars);

    RunnerOptions options;
    QString error;
    QVERIFY2(RunnerOptions::parse(QStringList{"benchtest-run"} + arguments, &options, &error),
             qPrintable(error));
    QCOMPARE(setVars(options), vars);
    QVERIFY(options.test == RunnerOptions::Test::Dac && options.dmmResource.isEmpty() &&
            options.serialPort.isEmpty() && options.outputDir == ".");
    QVERIFY(!options.helpRequested);
}

void tst_RunnerOptions::parse_refuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown test") << QStringList{"--test", "adc"} << "--test takes dac or isink";
    QTest::newRow("single step") << QStringList{"--single-step"}
                                 << "benchtest-run only runs automatically";
    QTest::newRow("parameter the window would read as 0")
        << QStringList{"--var3", "2x"} << "Var_3: '2x' is not a whole number";
    QTest::newRow("parameter beyond 64 bits")
        << QStringList{"--var", "2=9223372036854775808"} << "Var_2: '9223372036854775808'";
    QTest::newRow("no steps") << QStringList{"--var1", "0"} << "must be at least 1";
    QTest::newRow("no reading per step")
        << QStringList{"--var", "3=0"} << "Var_3 (readings per step) must be at least 1";
    QTest::newRow("parameter 13") << QStringList{"--var", "13=1"} << "N from 1 to 12";
    QTest::newRow("same parameter twice, two forms")
        << QStringList{"--var2", "1", "--var", "2=5"} << "Var_2 is given more than once";
    QTest::newRow("empty serial port") << QStringList{"--serial", ""} << "--serial needs a value";
    QTest::newRow("stray argument") << QStringList{"dac"} << "unexpected argument 'dac'";
    QTest::newRow("two patterns") << QStringList{"--list-resources", "ASRL?*", "USB?*"}
                                  << "unexpected argument 'ASRL?*'";
    QTest::newRow("codes and Var_1") << QStringList{"--codes", "1:5", "--var", "1=5"}
                                     << "--codes and Var_1 both choose the sweep";
    QTest::newRow("direction") << QStringList{"--direction", "sideways"}
                               << "--direction: 'sideways' is no direction (up, down or updown)";
    QTest::newRow("nplc") << QStringList{"--nplc", "0"} << "--nplc: '0' is no integration time";
    QTest::newRow("events") << QStringList{"--events", "xml"} << "--events takes json, not 'xml'";
    QTest::newRow("plan twice") << QStringList{"--plan", "a", "--plan", "b"}
                                << "--plan is given more than once";
}

void tst_RunnerOptions::parse_refuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    RunnerOptions options;
    QString error;
    QVERIFY(!RunnerOptions::parse(QStringList{"benchtest-run"} + arguments, &options, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
}

// The run plan's options, and the window's fields as plan settings: each
// with its option as origin, so that a refused plan names it.
void tst_RunnerOptions::planOptions()
{
    RunnerOptions options;
    QString error;
    const QString line = "benchtest-run --test ISINK --dmm GPIB0::22::INSTR --var 2= --var4 7 "
                         "--serial /dev/pts/3 --output /tmp/out "
                         "--item R7 --direction UpDown --order shuffled --seed "
                         "18446744073709551615 --range auto --nplc 0.2 --impedance 10M "
                         "--expect-idn ^BenchSim, --plan lab.ini --dry-run --events json -v";
    QVERIFY2(RunnerOptions::parse(line.split(' '), &options, &error), qPrintable(error));
    QVERIFY(options.test == RunnerOptions::Test::Isink &&
            options.dmmResource == "GPIB0::22::INSTR" && options.serialPort == "/dev/pts/3" &&
            options.outputDir == "/tmp/out");
    const PlanSettings &s = options.planOptions;
    QVERIFY(s.test.origin == "--test" && *s.test == TestChoice::Isink);
    QVERIFY(s.meterResource.origin == "--dmm" && *s.meterResource == "GPIB0::22::INSTR");
    QVERIFY(s.settleMs.origin == "--var2" &&
            *s.settleMs == 0); // the empty field the window reads as 0
    QVERIFY(s.readingIntervalMs.origin == "--var4" && *s.readingIntervalMs == 7);
    QVERIFY(!s.steps && !s.readingsPerStep && !s.codes);
    QVERIFY(s.serialPort.origin == "--serial" && *s.serialPort == "/dev/pts/3");
    QVERIFY(s.direction.origin == "--direction" && *s.direction == SweepPlan::Direction::UpDown);
    QVERIFY(*s.order == SweepPlan::Order::Shuffled && *s.seed == ~0ULL);
    QVERIFY(s.range.origin == "--range" && !*s.range); // autorange
    QVERIFY(*s.nplc == 0.2 && *s.impedance == MeterSetup::Impedance::TenMegohm);
    QCOMPARE(*s.expectIdn, QStringLiteral("^BenchSim,"));
    QVERIFY(options.planFile == "lab.ini" && options.dryRun && options.eventsJson &&
            options.verbose);
    QVERIFY(!options.allowNoMeter);
}

QTEST_APPLESS_MAIN(tst_RunnerOptions)
#include "tst_runneroptions.moc"
