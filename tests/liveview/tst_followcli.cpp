// benchtest-report --follow on the command line: --headless waits for the run's end (end line,
// or a record that says it stopped), then writes what benchtest-report writes for the finished
// file(s); the command line's mistakes; no window without a display.
#include "tests/liveview/SweepWriter.h"
#include "tests/support/TestSeed.h"

#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kReport = QStringLiteral(BENCHTEST_REPORT_EXE);

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

class TestFollowCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("benchtest.results.debug=false"));
    }

    // A run followed from its third step: the headless report equals benchtest-report's on the
    // finished file (after a switch, on the run's file and its recovery file), and comes only
    // once the run is over.
    void headlessEqualsReport_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("finished while followed") << "finished";
        QTest::newRow("stopped mid-row while followed") << "stopped";
        QTest::newRow("over before it is followed") << "over";
        QTest::newRow("went on in a recovery file") << "recovery";
    }

    void headlessEqualsReport()
    {
        QFETCH(QString, ending);
        QRandomGenerator random(testSeed(QTest::currentTestFunction()));
        QTemporaryDir folder;
        QVector<qint64> codes;
        for (int step = 0; step < 16; ++step)
            codes << random.bounded(1, 13);
        SweepWriter writer(folder.path(), codes, 2, 7);
        for (int step = 0; step < 3; ++step)
            writer.writeStep();
        if (ending == "over")
            writer.finish();

        const QStringList options = {"--plots", "none",    "--per-code",      "--ideal-lsb",
                                     "0.0008",  "--limit", "missing-codes=20"};
        QProcess follow;
        follow.start(kReport, QStringList{"--follow", "--headless", "-o", folder.filePath("live")} +
                                  options + QStringList{writer.file()});
        QVERIFY(follow.waitForStarted(5000));
        while (ending != "over" && writer.stepsWritten() < 12) {
            if (ending == "recovery" && writer.stepsWritten() == 8) {
                // A stick pulled mid-row and plugged in again: the writer goes on in a recovery
                // file, the run's file is back where it was.
                QVERIFY(writer.writePiece());
                QVERIFY(QFile::rename(writer.file(), writer.file() + ".away"));
                QVERIFY(writer.writePiece());
                QVERIFY(QFile::rename(writer.file() + ".away", writer.file()));
            }
            writer.writeStep();
            QTest::qWait(random.bounded(40));
        }
        if (ending != "over") {
            QVERIFY(!follow.waitForFinished(700)); // the run is not over: the report waits
            if (ending == "stopped") {
                QVERIFY(writer.writePiece() && writer.writePiece());
                writer.stop();
            } else {
                writer.finish();
            }
        }
        QVERIFY2(follow.waitForFinished(10000), follow.readAllStandardError().constData());

        QStringList files{writer.file()};
        if (ending == "recovery")
            files << writer.recoveryFile();
        QProcess plain;
        plain.start(kReport, QStringList{"-o", folder.filePath("plain")} + options + files);
        QVERIFY(plain.waitForFinished(10000));
        QCOMPARE(follow.exitCode(), 0);
        QCOMPARE(plain.exitCode(), 0);
        QCOMPARE(readAll(folder.filePath("live/report.json")),
                 readAll(folder.filePath("plain/report.json")));
    }

    void commandLineMistakes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("two files") << QStringList{"--follow", "--headless", "a.txt", "b.txt"} << 2
                                   << "--follow takes one result file";
        QTest::newRow("no such file") << QStringList{"--follow", "--headless", "nowhere.txt"} << 1
                                      << "cannot follow nowhere.txt: no such file";
        // The window needs a display; without one the program says what to use instead.
        QTest::newRow("window without a display")
            << QStringList{"--follow", "any.txt"} << 1 << "--headless writes the report";
    }

    void commandLineMistakes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QProcess report;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        report.setProcessEnvironment(environment);
        report.start(kReport, arguments);
        QVERIFY(report.waitForFinished(10000));
        QCOMPARE(report.exitCode(), exitCode);
        const QString error = QString::fromLocal8Bit(report.readAllStandardError());
        QVERIFY2(error.contains(message), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestFollowCli)
#include "tst_followcli.moc"
