// The effective plan: the meter's commands, sources laid over each other,
// refusals that name where a value came from, estimates worked out by hand;
// and the plan file as a lab keeps it: what it reads, every way it refuses a
// line (naming the file and the line), and the effective plan written out
// reading back as the same plan.
#include "plan/PlanFile.h"
#include "plan/RunPlan.h"
#include "tests/support/TestSeed.h"

#include <QFile>
#include <QJsonDocument>
#include <QMap>
#include <QTemporaryDir>
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
    void readsTheDocumentedExample();
    void toleratesCommentsBlanksCrLfAndAByteOrderMark();
    void refuses_data();
    void refuses();
    void writtenPlanReadsBackAsTheSamePlan_randomized();
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

// docs/plan.md shows this file: it must stay a valid plan.
void tst_RunPlan::readsTheDocumentedExample()
{
    const QString path = QStringLiteral(BENCHTEST_SOURCE_DIR "/docs/examples/dac16-updown.ini");
    PlanSettings settings;
    RunPlan plan;
    QString error;
    QVERIFY2(PlanFile::read(path, &settings, &error) && RunPlan::resolve(settings, &plan, &error),
             qPrintable(error));
    QCOMPARE(settings.nplc.origin, path + QStringLiteral(":22"));
    // 1024 codes on the grid and 65535, up and down with the top code once.
    QCOMPARE(plan.sweep.count(), 2 * 1025 - 1);
    QCOMPARE(plan.sweep.codeAt(1024), 65535);
    QCOMPARE(plan.meter.commands().mid(2), QStringList({"VOLT:DC:NPLC 1", "VOLT:DC:ZERO:AUTO ON",
                                                        "VOLT:DC:IMP:AUTO ON", "VOLT:DC:RANG 1"}));
    QCOMPARE(plan.item, QStringLiteral("R7 DAC0"));
    QVERIFY(plan.supply && plan.supply->voltage == 3.3 && plan.supply->readsCurrent);

    // A file too large to be a plan is not read.
    QTemporaryDir folder;
    QFile large(folder.filePath("large.ini"));
    QVERIFY(large.open(QIODevice::WriteOnly));
    large.write("[test]\n" + QByteArray(PlanFile::kMaxBytes, '#'));
    large.close();
    QVERIFY(!PlanFile::read(large.fileName(), &settings, &error));
    QCOMPARE(error, large.fileName() + QStringLiteral(": larger than 64 KiB: not a plan file"));
}

void tst_RunPlan::toleratesCommentsBlanksCrLfAndAByteOrderMark()
{
    const QByteArray text = "\xEF\xBB\xBF# a plan\r\n\r\n  ; another comment\r\n"
                            "[ sweep ]\r\n  codes   =  0:10:5 , 7  \r\ndirection=DOWN\r\n"
                            "[test]\nitem = R7 # part of the name\ntester = 测试员\n";
    PlanSettings settings;
    RunPlan plan;
    QString error;
    QVERIFY2(PlanFile::parse(text, "p.ini", &settings, &error) &&
                 RunPlan::resolve(settings, &plan, &error),
             qPrintable(error));
    QCOMPARE(settings.codes.origin, QStringLiteral("p.ini:5"));
    QCOMPARE(plan.item, QStringLiteral("R7 # part of the name"));
    QCOMPARE(plan.tester, QStringLiteral("测试员"));
    QCOMPARE(plan.sweep.codes(), (QVector<qint32>{7, 10, 5, 0}));
}

void tst_RunPlan::refuses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown key, with the known ones")
        << QByteArray("[meter]\nnplc = 1\nnplcs = 2\n")
        << "p.ini:3: unknown key 'nplcs' in [meter] (known: resource, expect-idn, function, "
           "range, nplc, autozero, impedance)";
    QTest::newRow("unknown section") << QByteArray("# x\n[meters]\n")
                                     << "p.ini:2: unknown section [meters] (known: test, sweep, "
                                        "timing, meter, board, supply)";
    QTest::newRow("key before a section")
        << QByteArray("codes = 1\n") << "p.ini:1: 'codes' before the first [section]";
    QTest::newRow("key set twice") << QByteArray("[timing]\nreadings = 3\n\nreadings = 4\n")
                                   << "p.ini:4: 'readings' is set again (first on line 2)";
    QTest::newRow("no value") << QByteArray("[test]\nitem =\n") << "p.ini:2: 'item' has no value";
    QTest::newRow("neither kind of line")
        << QByteArray("[test]\nitem R7\n")
        << "p.ini:2: 'item R7' is neither [section] nor key = value";
    QTest::newRow("bad number") << QByteArray("[timing]\nsettle-ms = 20ms\n")
                                << "p.ini:2: settle-ms: '20ms' is not a whole number";
    QTest::newRow("bad range") << QByteArray("[meter]\nrange = 10V\n")
                               << "p.ini:2: range: '10V' is no range";
    QTest::newRow("milli for mega") << QByteArray("[meter]\nimpedance = 10m\n")
                                    << "p.ini:2: impedance: '10m' is no input impedance";
    QTest::newRow("codes and steps")
        << QByteArray("[sweep]\nsteps = 5\ncodes = 1:5\n")
        << "p.ini:3: codes and steps both choose the sweep; keep one (steps on p.ini:2)";
    QTest::newRow("NUL byte") << QByteArray("[test]\nitem = a\0b\n", 17)
                              << "p.ini:2: binary data (a NUL byte): not a plan file";
    QTest::newRow("not UTF-8") << QByteArray("[test]\n\nitem = \xC3\x28\n")
                               << "p.ini:3: not UTF-8 text";
}

void tst_RunPlan::refuses()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    PlanSettings settings;
    settings.item.set(QStringLiteral("kept"), QStringLiteral("--item"));
    QString error;
    QVERIFY(!PlanFile::parse(text, "p.ini", &settings, &error));
    QVERIFY2(error.startsWith(message), qPrintable(error));
    QCOMPARE(*settings.item, QStringLiteral("kept")); // nothing half-read
}

// Invariant: any plan resolve() accepts, written out by write(), reads back
// as the same plan. The plans are drawn key by key from the values below.
void tst_RunPlan::writtenPlanReadsBackAsTheSamePlan_randomized()
{
    const QList<QStringList> keys = {
        {"test", "kind", "dac", "isink"},
        {"test", "item", "R7", "板 3", "A#1", "x=y"},
        {"sweep", "codes", "0:4095:64,4095", "10:0:3", "5", "-3:3, 100"},
        {"sweep", "direction", "up", "down", "updown"},
        {"sweep", "repeat", "1", "3"},
        {"sweep", "order", "sequential", "shuffled"},
        {"sweep", "seed", "0", "18446744073709551615"},
        {"timing", "settle-ms", "0", "99999"},
        {"timing", "readings", "1", "7"},
        {"meter", "resource", "GPIB0::22::INSTR"},
        {"meter", "expect-idn", "^Bench", ",344[0-9]{2}A,"},
        {"meter", "range", "auto", "0.001", "1"},
        {"meter", "nplc", "0.02", "1", "100"},
        {"meter", "autozero", "on", "off", "once"},
        {"meter", "impedance", "auto", "10M", "1G"},
        {"board", "serial", "ttyUSB0"},
        {"supply", "resource", "GPIB0::5::INSTR"},
        {"supply", "voltage", "3.3", "12"},
        {"supply", "current-limit", "0.05"},
        {"supply", "read-current", "yes", "no"}};
    QRandomGenerator random(testSeed(Q_FUNC_INFO));
    int valid = 0;
    for (int round = 0; round < 2000; ++round) {
        QMap<QString, QString> sections;
        for (const QStringList &key : keys) {
            if (random.bounded(2))
                sections[key[0]] +=
                    key[1] + " = " + key[2 + random.bounded(int(key.size()) - 2)] + '\n';
        }
        QString text;
        for (auto section = sections.cbegin(); section != sections.cend(); ++section)
            text += '[' + section.key() + "]\n" + section.value();
        PlanSettings settings;
        RunPlan plan;
        QString error;
        if (!PlanFile::parse(text.toUtf8(), "random.ini", &settings, &error) ||
            !RunPlan::resolve(settings, &plan, &error))
            continue; // a combination no plan may have
        ++valid;
        const QString written = PlanFile::write(plan);
        RunPlan again;
        QVERIFY2(PlanFile::parse(written.toUtf8(), "written.ini", &settings, &error) &&
                     RunPlan::resolve(settings, &again, &error),
                 qPrintable(error + "\n" + written));
        QVERIFY2(QJsonDocument(again.toJson()) == QJsonDocument(plan.toJson()),
                 qPrintable(written));
    }
    QVERIFY2(valid > 100, "too few random plans were valid to test anything");
}

QTEST_APPLESS_MAIN(tst_RunPlan)
#include "tst_runplan.moc"
