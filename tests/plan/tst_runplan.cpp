// The effective plan: the meter's commands, sources laid over each other,
// refusals that name where a value came from, estimates worked out by hand.
#include "plan/PlanFile.h"
#include "plan/RunPlan.h"

#include <QTest>

namespace {

// A source as plan-file text; "line.ini" stands for the command line.
PlanSettings source(const QByteArray &text, const QString &name = QStringLiteral("lab.ini"))
{
    PlanSettings settings;
    QString error;
    if (!PlanFile::parse(text, name, &settings, &error))
        qWarning("%s", qPrintable(error));
    return settings;
}

bool resolve(const QByteArray &file, const QByteArray &line, RunPlan *plan, QString *error)
{
    PlanSettings settings = source(file);
    settings.override(source(line, QStringLiteral("line.ini")));
    return RunPlan::resolve(settings, plan, error);
}

} // namespace

class tst_RunPlan : public QObject
{
    Q_OBJECT

private slots:
    void meterCommands_data();
    void meterCommands();
    void laterSourcesOverrideEarlierOnes();
    void refusedWithTheOrigins_data();
    void refusedWithTheOrigins();
    void estimatesWorkedOutByHand();
};

void tst_RunPlan::meterCommands_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QStringList>("commands");

    QTest::newRow("1 V, NPLC 1, autozero after the NPLC")
        << QByteArray("[meter]\nrange = 1\nnplc = 1\nautozero = on\n")
        << QString("*CLS|CONF:VOLT:DC|VOLT:DC:NPLC 1|VOLT:DC:ZERO:AUTO ON|VOLT:DC:IMP:AUTO ON|"
                   "VOLT:DC:RANG 1")
               .split('|');
    QTest::newRow("autorange, 10 MOhm")
        << QByteArray("[meter]\nrange = AUTO\nnplc = 0.2\nimpedance = 10M\n")
        << QStringList{"*CLS", "CONF:VOLT:DC", "VOLT:DC:NPLC 0.2", "VOLT:DC:IMP:AUTO OFF",
                       "VOLT:DC:RANG:AUTO ON"};
    QTest::newRow("current function brings the ISINK test, an exponent a plain decimal")
        << QByteArray("[meter]\nfunction = curr\nrange = 1e-4\nautozero = once\n")
        << QStringList{"*CLS", "CONF:CURR:DC", "CURR:DC:NPLC 10", "CURR:DC:ZERO:AUTO ONCE",
                       "CURR:DC:RANG 0.0001"};
}

void tst_RunPlan::meterCommands()
{
    QFETCH(QByteArray, plan);
    QFETCH(QStringList, commands);
    RunPlan resolved;
    QString error;
    QVERIFY2(resolve(plan, QByteArray(), &resolved, &error), qPrintable(error));
    QCOMPARE(resolved.meter.commands(), commands);
    QCOMPARE(resolved.test, commands.at(1).contains("CURR") ? TestChoice::Isink : TestChoice::Dac);
}

void tst_RunPlan::laterSourcesOverrideEarlierOnes()
{
    RunPlan plan;
    QString error;
    // The line's steps replace the file's codes; the file's direction stays.
    QVERIFY2(resolve("[sweep]\ncodes = 0:100:10\ndirection = updown\n[meter]\nnplc = 1\n"
                     "resource = GPIB0::5::INSTR\n[timing]\nsettle-ms = 5\n",
                     "[sweep]\nsteps = 4\n[meter]\nnplc = 0.2\n", &plan, &error),
             qPrintable(error));
    QCOMPARE(plan.sweep.codes(), (QVector<qint32>{1, 2, 3, 4, 3, 2, 1}));
    QCOMPARE(plan.meter.nplc(), 0.2);
    QCOMPARE(plan.settleMs, 5);
    QCOMPARE(plan.meterResource, QStringLiteral("GPIB0::5::INSTR"));

    // A shuffled file keeps its order with a seed from the line, and loses its
    // seed when the line makes the order sequential.
    const QByteArray shuffled = "[sweep]\nsteps = 6\norder = shuffled\nseed = 9\n";
    QVERIFY(resolve(shuffled, "[sweep]\nseed = 10\n", &plan, &error));
    QCOMPARE(plan.sweep.definition().seed, 10u);
    QVERIFY2(resolve(shuffled, "[sweep]\norder = sequential\n", &plan, &error), qPrintable(error));
    QCOMPARE(plan.sweep.codes(), (QVector<qint32>{1, 2, 3, 4, 5, 6}));

    // A name with a line break comes from the command line only.
    PlanSettings named;
    named.item.set("R7\nR8", "--item");
    QVERIFY(!RunPlan::resolve(named, &plan, &error));
    QCOMPARE(error,
             QStringLiteral("--item: the item holds a line break or another control character"));
}

void tst_RunPlan::refusedWithTheOrigins_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("message");

    QTest::newRow("function against the test")
        << QByteArray("[test]\nkind = dac\n") << QByteArray("[meter]\nfunction = curr\n")
        << "line.ini:2, lab.ini:2: function curr does not measure what the dac test records";
    QTest::newRow("impedance of a current")
        << QByteArray("[meter]\nimpedance = 10M\n") << QByteArray("[test]\nkind = isink\n")
        << "lab.ini:2, line.ini:2: impedance 10M applies to voltage only, and the function is curr";
    QTest::newRow("1G on autorange")
        << QByteArray("[meter]\nimpedance = 1G\nrange = auto\n") << QByteArray()
        << "lab.ini:2, lab.ini:3: impedance 1G needs a fixed range of "
           "10 V or less, not auto";
    QTest::newRow("too many steps through the passes")
        << QByteArray("[sweep]\ncodes = 0:65535\n")
        << QByteArray("[sweep]\ndirection = updown\nrepeat = 77\n")
        << "lab.ini:2, line.ini:2, line.ini:3: the codes '0:65535' make 10092467 steps";
    QTest::newRow("seed without a shuffle")
        << QByteArray() << QByteArray("[sweep]\nseed = 4\n")
        << "line.ini:2: a seed applies to a shuffled order only";
    QTest::newRow("no reading") << QByteArray("[timing]\nreadings = 0\n") << QByteArray()
                                << "lab.ini:2: 0 readings a step is not between 1 and 100000";
    QTest::newRow("interval beyond the timer")
        << QByteArray() << QByteArray("[timing]\ninterval-ms = 2147483648\n")
        << "line.ini:2: reading interval 2147483648 ms is not between 0 and 2147483647";
    QTest::newRow("broken pattern") << QByteArray("[meter]\nexpect-idn = (34461A\n") << QByteArray()
                                    << "lab.ini:2: '(34461A' is no regular expression";
    QTest::newRow("supply without its limits")
        << QByteArray("[supply]\nresource = GPIB0::5::INSTR\nvoltage = 5\n") << QByteArray()
        << "lab.ini:2: a supply needs its voltage and current limit";
    QTest::newRow("supply settings without a supply")
        << QByteArray("[supply]\nvoltage = 5\n") << QByteArray()
        << "lab.ini:2: supply settings without a supply resource";
}

void tst_RunPlan::refusedWithTheOrigins()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, line);
    QFETCH(QString, message);
    RunPlan plan;
    QString error;
    QVERIFY(!resolve(file, line, &plan, &error));
    QVERIFY2(error.startsWith(message), qPrintable(error));
}

// 0:4095:64 is 0 … 4032 (64 codes) and 4095: 65 codes, 129 steps up and down.
void tst_RunPlan::estimatesWorkedOutByHand()
{
    RunPlan plan;
    QString error;
    QVERIFY(resolve("[test]\nitem = R7\ntester = QA\n[sweep]\ncodes = 0:4095:64,4095\n"
                    "direction = updown\n[timing]\nsettle-ms = 20\nreadings = 3\n"
                    "interval-ms = 5\n[meter]\nnplc = 1\n",
                    QByteArray(), &plan, &error));
    QCOMPARE(plan.sweep.count(), 129);
    // A step: settle 20 + 3 readings of 1 cycle at 50 Hz (20 ms) + 2 waits of 5 = 90 ms;
    // 500 ms before the first step, 100 ms between steps: 500 + 129 x 90 + 128 x 100.
    QCOMPARE(plan.estimatedDurationMs(), 24910);
    // Head 256 + "R7" + "QA" = 260; heading 16 + 3 x ("\tDMM" and a digit, 5 + 1) = 34;
    // a row: 3 digits, a tab, 11 for the code, 3 x 16 readings, the line end = 64;
    // 129 rows = 8256; the end 64 and the record 16384.
    QCOMPARE(plan.estimatedFileBytes(), 260 + 34 + 8256 + 64 + 16384);
    const QJsonObject json = plan.toJson();
    QCOMPARE(json["estimate"]["durationMs"].toInteger(), 24910);

    // NPLC 0.02 is 0.4 ms a reading: one step of one reading, no settle: 500.4, rounded up.
    QVERIFY(resolve("[sweep]\nsteps = 1\n[timing]\nsettle-ms = 0\nreadings = 1\n[meter]\n"
                    "nplc = 0.02\n",
                    QByteArray(), &plan, &error));
    QCOMPARE(plan.estimatedDurationMs(), 501);
}

QTEST_APPLESS_MAIN(tst_RunPlan)
#include "tst_runplan.moc"
