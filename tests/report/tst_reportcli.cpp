#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

QString dataFile(const QString &name)
{
    return QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/report/data/") + name;
}

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

Result runTool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(BENCHTEST_REPORT_EXE), arguments);
    Result result;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QJsonObject readJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool near(double actual, double expected)
{
    return std::fabs(actual - expected) <= 1e-9 * std::fabs(expected) + 1e-12;
}

} // namespace

class TestReportCli : public QObject
{
    Q_OBJECT

private slots:
    void help()
    {
        const Result r = runTool({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        for (const char *text : {"--ideal-lsb", "--ideal-offset", "--output-dir", "--json",
                                 "--plots", "--per-run", "Exit codes", "report.json"})
            QVERIFY2(r.out.contains(QLatin1String(text)), text);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString file = dataFile(QStringLiteral("bow.txt"));
        QTest::newRow("no file") << QStringList();
        QTest::newRow("unknown option") << QStringList{"--colour", file};
        QTest::newRow("LSB not a number") << QStringList{"--ideal-lsb", "abc", file};
        QTest::newRow("LSB zero") << QStringList{"--ideal-lsb", "0", file};
        QTest::newRow("offset not a number") << QStringList{"--ideal-offset", "1,5", file};
        QTest::newRow("unknown plot format") << QStringList{"--plots", "png,gif", file};
        QTest::newRow("plot size too small") << QStringList{"--plot-size", "10x10", file};
        QTest::newRow("plot size malformed") << QStringList{"--plot-size", "800", file};
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        const Result r = runTool(arguments + QStringList{QStringLiteral("-o"), out});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(QStringLiteral("--help")));
        QVERIFY(!QFileInfo::exists(out));
    }

    void inputErrors_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("message");

        QTest::newRow("missing file")
            << QStringList{dataFile(QStringLiteral("bow.txt")), dataFile("nonexistent.txt")}
            << "nonexistent.txt: cannot read";
        QTest::newRow("no run in file")
            << QStringList{QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/report/CMakeLists.txt")}
            << "no result run found";
        QTest::newRow("DAC and ISINK pooled")
            << QStringList{dataFile(QStringLiteral("bow.txt")), dataFile("err.txt")}
            << "runs measure different quantities (DAC, ISINK)";
    }

    void inputErrors()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        const Result r = runTool(QStringList{QStringLiteral("-o"), out} + files);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(out));
    }

    void onlyErrReadings()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("silent.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("测试项: [x]\n测试名: [S]\n测试人: [QA]\n开始时间: [240101 "
                                  "090000]\n\nNo.\tDAC\tDMM1\n1\t1\tERR\n2\t2\tERR\n")
                       .toUtf8());
        file.close();
        const Result r = runTool({QStringLiteral("--plots"), QStringLiteral("none"), path});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains(QStringLiteral("no valid reading")));
    }

    void endToEnd()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("nested/out"));
        const Result r =
            runTool({QStringLiteral("--ideal-lsb"), QStringLiteral("0.001"),
                     QStringLiteral("--ideal-offset"), QStringLiteral("-1e-4"),
                     QStringLiteral("--plot-size"), QStringLiteral("640x400"), QStringLiteral("-o"),
                     out, dataFile(QStringLiteral("nonmonotonic.txt"))});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(
            r.out.contains(QStringLiteral("Monotonic:           no, output reverses at codes 4")));
        QVERIFY(r.out.contains(QStringLiteral("Missing codes:       4\n")));
        // One reading per code: the noise is unknown and the exact rule needs no limit line.
        QVERIFY(!r.out.contains(QStringLiteral("Missing-code limit")));

        const QJsonObject json = readJson(QDir(out).filePath(QStringLiteral("report.json")));
        QCOMPARE(json.value("ideal").toObject().value("lsb").toDouble(), 0.001);
        QCOMPARE(json.value("ideal").toObject().value("offset").toDouble(), -1e-4);
        const QJsonArray reports = json.value("reports").toArray();
        QCOMPARE(reports.size(), 1);
        const QJsonObject report = reports.first().toObject();
        QCOMPARE(report.value("quantity").toString(), QStringLiteral("DAC"));
        QCOMPARE(report.value("unit").toString(), QStringLiteral("V"));
        QCOMPARE(report.value("monotonic").toBool(true), false);
        QCOMPARE(report.value("nonMonotonicCodes").toArray(), QJsonArray({4}));
        QCOMPARE(report.value("missingCodes").toArray(), QJsonArray({4}));
        QVERIFY(report.value("noise").toObject().value("pooledStdDev").isNull());

        // End points 1 mV/code through 0 V: gain error 0, offset error +0.1 mV = +0.1 LSB.
        const QJsonObject endPoint = report.value("endPoint").toObject();
        QVERIFY(near(endPoint.value("gain").toDouble(), 1e-3));
        QVERIFY(near(endPoint.value("gainErrorPercent").toDouble(), 0));
        QVERIFY(near(endPoint.value("offsetError").toDouble(), 1e-4));
        QVERIFY(near(endPoint.value("offsetErrorLsb").toDouble(), 0.1));
        QCOMPARE(endPoint.value("inlMax").toObject().value("code").toInt(), 4);
        QVERIFY(near(report.value("leastSquares").toObject().value("gain").toDouble(),
                     67.0 / 70 * 1e-3));

        const QJsonArray steps = report.value("steps").toArray();
        QCOMPARE(steps.size(), 6);
        const QJsonObject first = steps.first().toObject();
        QCOMPARE(first.value("code").toInt(), 1);
        QCOMPARE(first.value("count").toInt(), 1);
        QVERIFY(first.value("stdDev").isNull());
        QVERIFY(first.value("dnlLeastSquares").isNull());
        QVERIFY(near(steps.at(3).toObject().value("dnlEndPoint").toDouble(), -1.2));
        QVERIFY(steps.at(3).toObject().value("dnlStdError").isNull());

        const QJsonArray plots = report.value("plots").toArray();
        QCOMPARE(plots.size(), 6);
        for (const QJsonValue &plot : plots) {
            QVERIFY2(QFileInfo(plot.toString()).size() > 1000, qPrintable(plot.toString()));
            QVERIFY(r.out.contains(QStringLiteral("Plot: ") + plot.toString()));
        }
    }

    // Without -o the report goes beside the first file; --json and --plots pick the rest.
    void defaultFolderAndChoices()
    {
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("[AutoTest][X][QA][240101 090000].txt"));
        QVERIFY(QFile::copy(dataFile(QStringLiteral("tworuns.txt")), copy));

        Result r = runTool({copy});
        QCOMPARE(r.exitCode, 0);
        const QDir folder(dir.filePath(QStringLiteral("[AutoTest][X][QA][240101 090000]-report")));
        QCOMPARE(folder.entryList(QDir::Files, QDir::Name),
                 QStringList({"dnl.png", "dnl.svg", "inl.png", "inl.svg", "report.json",
                              "transfer.png", "transfer.svg"}));
        QVERIFY(readJson(folder.filePath("report.json"))
                    .value("reports")
                    .toArray()
                    .first()
                    .toObject()
                    .value("readings")
                    .toObject()
                    .value("valid")
                    .toInt() == 11);

        const QString json = dir.filePath(QStringLiteral("custom.json"));
        const QString out = dir.filePath(QStringLiteral("perrun"));
        r = runTool({QStringLiteral("--per-run"), QStringLiteral("--plots"), QStringLiteral("svg"),
                     QStringLiteral("--json"), json, QStringLiteral("-o"), out, copy});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name),
                 QStringList({"run1-dnl.svg", "run1-inl.svg", "run1-transfer.svg", "run2-dnl.svg",
                              "run2-inl.svg", "run2-transfer.svg"}));
        const QJsonArray reports = readJson(json).value("reports").toArray();
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports.at(1).toObject().value("label").toString(),
                 QStringLiteral("[AutoTest][X][QA][240101 090000].txt run 2"));
        QCOMPARE(
            reports.at(0).toObject().value("runs").toArray().first().toObject().value("finished"),
            QJsonValue(false));
    }

    void summaryText()
    {
        QTemporaryDir dir;
        const Result r =
            runTool({QStringLiteral("--ideal-lsb"), QStringLiteral("0.2"),
                     QStringLiteral("--plots"), QStringLiteral("none"), QStringLiteral("-o"),
                     dir.path(), dataFile(QStringLiteral("perfect.txt"))});
        QCOMPARE(r.exitCode, 0);
        const QStringList lines = r.out.split(QLatin1Char('\n'));
        for (const char *line : {
                 "Linearity of PERFECT_DAC (DAC, V), all runs",
                 "  Ideal:               LSB 0.2 V, offset 0 V",
                 "  Readings:            16 valid, 0 ERR, 0 invalid",
                 "  Least-squares fit:   gain 0.25 V/code, offset 0.125 V",
                 "                       gain error +25 % (+0.05 V/code), offset error +0.125 V "
                 "(+0.6250 LSB)",
                 "  INL (least squares): max 0.0000 LSB at code 1",
                 "  Monotonic:           yes",
                 "  Missing codes:       none",
                 // s = 1.41 mV at 2 readings a code: se = s * sqrt(1/2 + 1/2) / 0.25 V.
                 "  Missing-code limit:  DNL <= -1 + 3 se, se 0.0057 LSB from the noise",
                 "  Noise:               0.00141421 V pooled std dev (0.0057 LSB) over 8 steps",
             })
            QVERIFY2(lines.contains(QString::fromUtf8(line)), line);
    }

    void perRunMixedQuantities()
    {
        QTemporaryDir dir;
        const QString json = dir.filePath(QStringLiteral("r.json"));
        const Result r =
            runTool({QStringLiteral("--per-run"), QStringLiteral("--plots"), QStringLiteral("none"),
                     QStringLiteral("--json"), json, QStringLiteral("-o"), dir.path(),
                     dataFile(QStringLiteral("bow.txt")), dataFile(QStringLiteral("err.txt"))});
        QCOMPARE(r.exitCode, 0);
        const QJsonArray reports = readJson(json).value("reports").toArray();
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports.at(0).toObject().value("unit").toString(), QStringLiteral("V"));
        QCOMPARE(reports.at(1).toObject().value("unit").toString(), QStringLiteral("A"));
        QCOMPARE(reports.at(1).toObject().value("codesWithoutData").toArray(), QJsonArray({2}));
        QCOMPARE(reports.at(1).toObject().value("plots").toArray().size(), 0);
    }

    void outputErrors_data()
    {
        QTest::addColumn<QString>("blocker"); // a file that stands where a folder must go
        QTest::addColumn<bool>("asJsonFolder");
        QTest::newRow("output folder is a file") << "out" << false;
        QTest::newRow("JSON folder is a file") << "json" << true;
    }

    void outputErrors()
    {
        QFETCH(QString, blocker);
        QFETCH(bool, asJsonFolder);
        QTemporaryDir dir;
        QFile file(dir.filePath(blocker));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QStringList arguments{QStringLiteral("--plots"), QStringLiteral("png")};
        if (asJsonFolder)
            arguments << QStringLiteral("--json") << dir.filePath(blocker + "/report.json")
                      << QStringLiteral("-o") << dir.filePath(QStringLiteral("plots"));
        else
            arguments << QStringLiteral("-o") << dir.filePath(blocker);
        const Result r = runTool(arguments << dataFile(QStringLiteral("bow.txt")));
        QCOMPARE(r.exitCode, 3);
        QVERIFY(r.err.contains(QStringLiteral("cannot")));
        QVERIFY(!r.out.contains(QStringLiteral("JSON:")));
    }
};

QTEST_GUILESS_MAIN(TestReportCli)
#include "tst_reportcli.moc"
