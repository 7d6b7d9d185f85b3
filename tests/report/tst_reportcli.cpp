#include "tests/support/FileBytes.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

QString dataFile(const QString &name)
{
    return QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/report/data/") + name;
}

struct Result
{
    int exitCode = -1; // also when the tool hangs, crashes or aborts
    QString out;
    QString err;
};

Result runTool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(BENCHTEST_REPORT_EXE), arguments);
    Result result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QJsonObject readJson(const QString &path)
{
    return QJsonDocument::fromJson(fileBytes(path)).object();
}

// A result file of one run of `codes` codes; `cells(k)` gives the reading cells of code k.
QByteArray sweep(int codes, const std::function<QString(int)> &cells,
                 const QString &end = QStringLiteral("\n完成时间: [240101 090100]\n"))
{
    QString text = QStringLiteral("测试项: [x]\n测试名: [EDGE]\n测试人: [QA]\n"
                                  "开始时间: [240101 090000]\n\nNo.\tDAC\tDMM1\tDMM2\n");
    for (int code = 1; code <= codes; ++code)
        text += QStringLiteral("%1\t%1\t%2\n").arg(code).arg(cells(code));
    return (text + end).toUtf8();
}

QString reading(double value)
{
    return QString::number(value, 'E', 8);
}

} // namespace

class TestReportCli : public QObject
{
    Q_OBJECT

private slots:
    // Refused before anything is written (an unknown option is tst_programconventions').
    void usageErrors()
    {
        const QString file = dataFile(QStringLiteral("bow.txt"));
        for (const QStringList &arguments : {QStringList(), QStringList{"--ideal-lsb", "0", file},
                                             QStringList{"--limit", "inl", file}}) {
            QTemporaryDir dir;
            const QString out = dir.filePath(QStringLiteral("out"));
            const Result r = runTool(arguments + QStringList{QStringLiteral("-o"), out});
            QCOMPARE(r.exitCode, 2);
            QVERIFY(r.err.contains(QStringLiteral("--help")));
            QVERIFY(!QFileInfo::exists(out));
        }
    }

    // Inputs of a bad day at the lab: each one finishes, with a report and every plot, or is
    // refused with a message and nothing written.
    void anyInputFinishes_data()
    {
        QTest::addColumn<QList<QByteArray>>("files");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lines"); // in the summary, or in the error output

        const QByteArray ok = sweep(4, [](int k) { return reading(k * 1e-3); });
        QTest::newRow("flat, not zero")
            << QList<QByteArray>{sweep(8, [](int) { return reading(4e-3) + "\t" + reading(4e-3); })}
            << QStringList() << 0
            << QStringList{"  Least-squares fit:   gain 0 V/code, offset 0.004 V",
                           "  Missing codes:       2, 3, 4, 5, 6, 7, 8"};
        QTest::newRow("one code, one reading")
            << QList<QByteArray>{sweep(1, [](int) { return "+1.0E-03"; })} << QStringList() << 0
            << QStringList{"  Least-squares fit:   not enough codes with data",
                           "  Noise:               - (no step with two or more readings)"};
        QTest::newRow("all ERR") << QList<QByteArray>{sweep(3, [](int) { return "ERR\tERR"; })}
                                 << QStringList() << 1
                                 << QStringList{"benchtest-report: no valid reading to analyse"};
        QTest::newRow("1e-300 span")
            << QList<QByteArray>{sweep(4, [](int k) { return reading(k * 1e-300); })}
            << QStringList{"--ideal-lsb", "1e-300"} << 0
            << QStringList{"  Least-squares fit:   gain 1e-300 V/code, offset 0 V"};
        // A full disk stops the writer in the middle of a cell.
        QTest::newRow("cut last cell")
            << QList<QByteArray>{sweep(
                   3, [](int k) { return reading(k * 1e-3); }, "4\t4\t+4.0000")}
            << QStringList() << 0
            << QStringList{"  Readings:            3 valid, 0 ERR, 0 invalid, 1 cut (the last "
                           "cell of a row without its line end, not counted)"};
        QTest::newRow("several runs and files")
            << QList<QByteArray>{ok + ok,
                                 sweep(2, [](int k) { return reading(k * 1e-3) + "\tERR"; })}
            << QStringList() << 0
            << QStringList{"  Pooled:              2 files, 3 runs, 2 to 3 readings per code"};
        QTest::newRow("missing file") << QList<QByteArray>{ok} << QStringList{"gone.txt"} << 1
                                      << QStringList{"gone.txt: cannot read"};
        QTest::newRow("run without rows, unknown quantity")
            << QList<QByteArray>{sweep(0, {}) + QByteArray(ok).replace("\tDAC\t", "\tVOUT\t")}
            << QStringList() << 0
            << QStringList{"in0.txt run 1: no step rows", "unknown quantity \"VOUT\", no unit"};
        QTest::newRow("DAC and ISINK per run, one run silent")
            << QList<QByteArray>{ok + sweep(2, [](int) { return "ERR"; }),
                                 QByteArray(ok).replace("\tDAC\t", "\tISINK\t")}
            << QStringList{"--per-run"} << 0
            << QStringList{"Linearity of EDGE (ISINK, A), in1.txt run 1",
                           "in0.txt run 2: no valid reading"};
        QTest::newRow("summary of a perfect line")
            << QList<QByteArray>{fileBytes(dataFile(QStringLiteral("perfect.txt")))}
            << QStringList{"--ideal-lsb", "0.2"} << 0
            << QStringList{
                   "                       gain error +25 % (+0.05 V/code), offset error +0.125 "
                   "V (+0.6250 LSB)",
                   "  Noise:               0.00141421 V pooled std dev (0.0057 LSB) over 8 steps"};
        QTest::newRow("DAC and ISINK pooled")
            << QList<QByteArray>{ok, QByteArray(ok).replace("\tDAC\t", "\tISINK\t")}
            << QStringList() << 1
            << QStringList{"benchtest-report: runs measure different quantities (DAC, ISINK); "
                           "report them per run"};
    }

    void anyInputFinishes()
    {
        QFETCH(QList<QByteArray>, files);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);

        QTemporaryDir dir;
        QStringList paths;
        for (const QByteArray &bytes : files) {
            paths.append(dir.filePath(QStringLiteral("in%1.txt").arg(paths.size())));
            QVERIFY(writeFileBytes(paths.last(), bytes));
        }
        const QString out = dir.filePath(QStringLiteral("out"));
        const QString csv = dir.filePath(QStringLiteral("steps.csv"));
        const Result r = runTool(options + QStringList{"--csv", csv, "-o", out} + paths);
        QCOMPARE(r.exitCode, exitCode);
        const QStringList printed = r.out.split(QLatin1Char('\n'));
        for (const QString &line : lines)
            QVERIFY2(r.out.contains(line) || r.err.contains(line),
                     qPrintable(line + QStringLiteral("\nnot in:\n") + r.out + r.err));
        if (exitCode == 1) { // an input refused: nothing written
            QVERIFY(!QFileInfo::exists(out) && !QFileInfo::exists(csv));
            return;
        }
        // Every plot of every report.
        const QStringList plots = printed.filter(QRegularExpression("^Plot: "));
        QCOMPARE(plots.size(), 6 * r.out.count(QStringLiteral("Linearity of ")));
        for (const QString &plot : plots)
            QVERIFY2(QFileInfo(plot.mid(6)).size() > 500, qPrintable(plot));
        QCOMPARE(readJson(QDir(out).filePath("report.json")).value("schemaVersion").toInt(), 3);
        QVERIFY(QFileInfo(csv).size() > 0);
    }

    void endToEnd()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("nested/out"));
        const QString csv = dir.filePath(QStringLiteral("steps.csv"));
        const Result r = runTool({"--ideal-lsb", "0.001", "--ideal-offset", "-1e-4", "--plot-size",
                                  "640x400", "-o", out, "--per-code", "--csv", csv, "--limit",
                                  "inl=2", "--limit", "missing-codes=0", "--limit", "noise=1",
                                  dataFile(QStringLiteral("nonmonotonic.txt"))});
        QCOMPARE(r.exitCode, 4);
        // One reading per code: the noise is unknown and the exact rule needs no limit line.
        QVERIFY(!r.out.contains(QStringLiteral("Missing-code limit")));
        // A figure that cannot be computed fails its limit.
        QVERIFY(r.out.contains("  Limit noise:         FAIL undefined over 1 LSB\n"));
        QVERIFY(r.out.contains("  Verdict:             FAIL (missing-codes, noise)\n"));

        const QJsonArray reports =
            readJson(QDir(out).filePath("report.json")).value("reports").toArray();
        const QJsonObject report = reports.first().toObject();
        QCOMPARE(report.value("nonMonotonicCodes").toArray(), QJsonArray({4}));
        QCOMPARE(report.value("missingCodes").toArray(), QJsonArray({4}));
        QVERIFY(report.value("noise").toObject().value("pooledStdDev").isNull());
        const QJsonObject missing{
            {"name", "missing-codes"}, {"limit", 0}, {"value", 1}, {"unit", ""}, {"pass", false}};
        QCOMPARE(report.value("limits").toArray().at(1).toObject(), missing);

        // End points 1 mV/code through 0 V: offset error +0.1 mV = +0.1 LSB.
        QCOMPARE(report.value("endPoint").toObject().value("offsetErrorLsb").toDouble(), 0.1);
        QCOMPARE(report.value("steps").toArray().at(3).toObject().value("dnlEndPoint").toDouble(),
                 -1.2);

        // The same figures in the table: 1, 2, 3, 2.8, 4.9, 6 mV at one reading a code.
        QVERIFY(fileBytes(csv).split('\n').value(4).startsWith("4,1,0.0028,,0.0028,0.0028,"));
    }

    // Without -o the report goes beside the first file, in a folder a shell needs no quotes
    // for; --json and --plots pick the rest; per-code arrays are left out unless asked.
    void defaultFolderAndChoices()
    {
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("[AutoTest][X][QA][240101 090000].txt"));
        QVERIFY(QFile::copy(dataFile(QStringLiteral("tworuns.txt")), copy));

        Result r = runTool({copy});
        QCOMPARE(r.exitCode, 0);
        const QDir folder(dir.filePath(QStringLiteral("AutoTest_X_QA_240101_090000-report")));
        QCOMPARE(folder.entryList(QDir::Files, QDir::Name),
                 QStringList({"dnl.png", "dnl.svg", "inl.png", "inl.svg", "report.json",
                              "transfer.png", "transfer.svg"}));
        const QJsonObject pooled =
            readJson(folder.filePath("report.json")).value("reports").toArray().first().toObject();
        QCOMPARE(pooled.value("readings").toObject().value("valid").toInt(), 11);
        QVERIFY(!pooled.contains("steps"));

        const QString json = dir.filePath(QStringLiteral("custom.json"));
        const QString out = dir.filePath(QStringLiteral("perrun"));
        r = runTool({"--per-run", "--plots", "svg", "--json", json, "-o", out, copy});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name),
                 QStringList({"run1-dnl.svg", "run1-inl.svg", "run1-transfer.svg", "run2-dnl.svg",
                              "run2-inl.svg", "run2-transfer.svg"}));
        const QJsonArray reports = readJson(json).value("reports").toArray();
        QCOMPARE(reports.at(1).toObject().value("label").toString(),
                 QStringLiteral("[AutoTest][X][QA][240101 090000].txt run 2"));
    }

    // A file stands where the output folder or the table's folder must go.
    void outputErrors()
    {
        for (const QString option : {"-o", "--csv"}) {
            QTemporaryDir dir;
            QVERIFY(writeFileBytes(dir.filePath(QStringLiteral("blocker")), {}));
            QStringList arguments{"--plots", "png", option, dir.filePath("blocker/x")};
            if (option != QLatin1String("-o"))
                arguments << "-o" << dir.filePath(QStringLiteral("plots"));
            const Result r = runTool(arguments << dataFile(QStringLiteral("bow.txt")));
            QCOMPARE(r.exitCode, 3);
            QVERIFY(r.err.contains(QStringLiteral("cannot")));
            QVERIFY(!r.out.contains(QStringLiteral("JSON:")));
        }
    }
};

QTEST_GUILESS_MAIN(TestReportCli)
#include "tst_reportcli.moc"
