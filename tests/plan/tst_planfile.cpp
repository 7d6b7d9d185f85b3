// The plan file as a lab keeps it: what it reads, every way it refuses a
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

class tst_PlanFile : public QObject
{
    Q_OBJECT

private slots:
    void readsTheDocumentedExample();
    void toleratesCommentsBlanksCrLfAndAByteOrderMark();
    void refuses_data();
    void refuses();
    void writtenPlanReadsBackAsTheSamePlan_randomized();
};

// docs/plan.md shows this file: it must stay a valid plan.
void tst_PlanFile::readsTheDocumentedExample()
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

void tst_PlanFile::toleratesCommentsBlanksCrLfAndAByteOrderMark()
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

void tst_PlanFile::refuses_data()
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

void tst_PlanFile::refuses()
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
void tst_PlanFile::writtenPlanReadsBackAsTheSamePlan_randomized()
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

QTEST_APPLESS_MAIN(tst_PlanFile)
#include "tst_planfile.moc"
