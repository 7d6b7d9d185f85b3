// Following a run as the window and the runner write it: to its end line or to a record that
// says it stopped, on into the recovery file its record names, and over a million rows in
// memory that holds the codes. And benchtest-report --follow on the command line: --headless
// waits for the run's end, then writes what benchtest-report writes for the finished file(s);
// the command line's mistakes; no window without a display.
#include "report/LiveRun.h"
#include "report/ResultFileReader.h"
#include "report/StepStatistics.h"
#include "tests/liveview/SweepWriter.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TestSeed.h"

#include <QDir>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <utility>

#include <unistd.h>

namespace {

// The rows of a whole file, pooled per code as the report pools them.
ResultFile readWhole(const QString &path, QVector<StepStats> *steps)
{
    StepStatistics statistics;
    const ResultFile file =
        ResultFileReader::read(path, [&](auto &, const ResultRow &row) { statistics.add(row); });
    *steps = statistics.steps();
    return file;
}

// Per-code figures as text, exact and NaN included, so that a comparison names the first code
// that differs.
QStringList describedSteps(const QVector<StepStats> &steps)
{
    QStringList lines;
    for (const StepStats &s : steps)
        lines << QString::asprintf("code %lld: n %lld err %lld invalid %lld cut %lld, %.17g %.17g "
                                   "%.17g %.17g",
                                   s.code, s.count, s.errCount, s.invalidCount, s.cutCount, s.mean,
                                   s.stdDev, s.min, s.max);
    return lines;
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    return statm.open(QIODevice::ReadOnly)
               ? statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE)
               : -1;
}

const QString kReport = QStringLiteral(BENCHTEST_REPORT_EXE);

// Whether the process has the file open: it has begun to follow it.
bool hasOpen(qint64 pid, const QString &path)
{
    const QString wanted = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    const QFileInfoList links =
        fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    return std::any_of(links.begin(), links.end(),
                       [&](const QFileInfo &fd) { return fd.symLinkTarget() == wanted; });
}

} // namespace

class TestLiveRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The writer's word on its recovery file is expected here, not news.
        QLoggingCategory::setFilterRules(QStringLiteral("benchtest.results.debug=false"));
    }

    // The file moves away before any piece of the run (a stick pulled and plugged in again),
    // the writer goes on in a recovery file that starts with the row under way, and the
    // record names it; the run ends with its end line or is stopped anywhere, before or after
    // the switch. Followed with polls anywhere between pieces, every step counts once: rows
    // and figures are those of the same run written without the switch.
    void recoveryFile_everyStepOnce()
    {
        QRandomGenerator random(testSeed(QTest::currentTestFunction()));
        for (int round = 0; round < 15; ++round) {
            QTemporaryDir folder;
            QVector<qint64> codes;
            for (int n = 4 + random.bounded(20); n > 0; --n)
                codes << random.bounded(12); // in any order, repeated
            const int readings = 1 + random.bounded(4);
            const int errEvery = random.bounded(2) ? 0 : 2 + random.bounded(6);
            QVERIFY(QDir(folder.path()).mkpath("plain") && QDir(folder.path()).mkpath("run"));
            SweepWriter plain(folder.filePath("plain"), codes, readings, errEvery);
            SweepWriter writer(folder.filePath("run"), codes, readings, errEvery);
            const qint64 moveAt = random.bounded(writer.pieces());
            const qint64 stopAt =
                random.bounded(3) == 0 ? random.bounded(writer.pieces()) : writer.pieces();
            const QByteArray context = QStringLiteral("round %1: moved before piece %2, "
                                                      "stopped at %3 of %4")
                                           .arg(round)
                                           .arg(moveAt)
                                           .arg(stopAt)
                                           .arg(writer.pieces())
                                           .toUtf8();

            LiveRun live(writer.file());
            live.poll();
            while (writer.piecesWritten() < stopAt) {
                if (writer.piecesWritten() == moveAt)
                    QVERIFY(QFile::rename(writer.file(), writer.file() + ".moved"));
                QVERIFY(writer.writePiece() && plain.writePiece());
                if (random.bounded(3) == 0)
                    live.poll();
            }
            for (SweepWriter *run : {&writer, &plain})
                stopAt < writer.pieces() ? run->stop() : run->finish();
            live.poll();

            QVERIFY2(live.phase() == LiveRun::Phase::Ended, context);
            QCOMPARE(live.endLineRead(), stopAt == writer.pieces());
            const QStringList files = {writer.file(), writer.recoveryFile()};
            QVERIFY2(live.files() == files.mid(0, writer.recoveryFile().isEmpty() ? 1 : 2),
                     context);
            QVector<StepStats> whole;
            QVERIFY2(live.sweep().rows() == readWhole(plain.file(), &whole).runs.first().rows,
                     context);
            QCOMPARE(describedSteps(live.sweep().report({}).steps), describedSteps(whole));
        }
    }

    // Records written before "continuedIn" named the recovery file only in their last word, as
    // "recoveryFile": the run is followed there too, and the recovery file's own record, which
    // names itself under that key, ends the hops.
    void recoveryFileNamedOnlyAtTheEnd_isFollowed()
    {
        QTemporaryDir folder;
        const QString first = folder.filePath(QStringLiteral("run.txt"));
        const QString recovery = folder.filePath(QStringLiteral("run-recovered.txt"));
        const QByteArray head = "测试项: [DAC]\n测试名: [OLD]\n测试人: [QA]\n"
                                "开始时间: [240101 090000]\n\nNo.\tDAC\tDMM1\n";
        QVERIFY(writeFileBytes(first, head + "1\t0\t+1.0E-03\n2\t1\t+2.0E-03\n3\t2\t+3."));
        QVERIFY(writeFileBytes(recovery, head + "3\t2\t+3.0E-03\n4\t3\t+4.0E-03\n"
                                                "\n完成时间: [240101 100000]\n"));
        RunRecord record;
        record.resultFile = first;
        record.recoveryFile = recovery;
        record.outcome.status = QStringLiteral("finished");
        QVERIFY(writeFileBytes(RunRecord::pathFor(first), QJsonDocument(record.toJson()).toJson()));
        record.resultFile = recovery;
        QVERIFY(
            writeFileBytes(RunRecord::pathFor(recovery), QJsonDocument(record.toJson()).toJson()));

        LiveRun live(first);
        for (int round = 0; round < 5 && live.phase() != LiveRun::Phase::Ended; ++round)
            live.poll();
        QCOMPARE(live.phase(), LiveRun::Phase::Ended);
        QCOMPARE(live.files(), QStringList({first, recovery}));
        QVERIFY(live.endLineRead());
        QCOMPARE(live.sweep().rows(), 4);
        QCOMPARE(live.sweep().report({}).steps.size(), 4);
    }

    // A million rows over 64 codes: the follower keeps a chunk, a line and the codes, not the
    // rows (which alone would take some 30 MB).
    void millionsOfRows_memoryStaysPerCode()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("long.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("测试项: [DAC]\n测试名: [LONG]\n测试人: [QA]\n开始时间: [240101 090000]\n\n"
                   "No.\tDAC\tDMM1\n");
        QByteArray block;
        for (qint64 step = 1; step <= 1000000; ++step) {
            block += QByteArray::number(step) + '\t' + QByteArray::number(step % 64) + "\t+" +
                     QByteArray::number(0.001 * double(step % 64), 'E', 8) + '\n';
            if (block.size() > (1 << 20) || step == 1000000)
                QVERIFY(file.write(std::exchange(block, QByteArray())) > 0);
        }
        file.write("\n完成时间: [240101 100000]\n");
        file.close();
        const qint64 before = residentBytes();
        LiveRun live(path);
        while (live.phase() != LiveRun::Phase::Ended)
            live.poll();
        QCOMPARE(live.sweep().rows(), 1000000);
        QCOMPARE(live.sweep().report({}).steps.size(), 64);
        const qint64 grown = residentBytes() - before;
        QVERIFY2(grown < 8 << 20, qPrintable(QStringLiteral("grew by %1 bytes").arg(grown)));
    }

    // A run followed from its third step, which goes on in a recovery file and is stopped
    // mid-row: the headless report equals benchtest-report's on the run's file and its
    // recovery file, and comes only once the run is over. LiveRun's own tests end runs every
    // other way.
    void headlessEqualsReport()
    {
        QRandomGenerator random(testSeed(QTest::currentTestFunction()));
        QTemporaryDir folder;
        QVector<qint64> codes;
        for (int step = 0; step < 16; ++step)
            codes << random.bounded(1, 13);
        SweepWriter writer(folder.path(), codes, 2, 7);
        for (int step = 0; step < 3; ++step)
            writer.writeStep();

        const QStringList options = {"--plots", "none",    "--per-code",      "--ideal-lsb",
                                     "0.0008",  "--limit", "missing-codes=20"};
        QProcess follow;
        follow.start(kReport, QStringList{"--follow", "--headless", "-o", folder.filePath("live")} +
                                  options + QStringList{writer.file()});
        QVERIFY(follow.waitForStarted(5000));
        // A loaded machine may take its time to start the follower: the file is moved away
        // for a moment only once it follows, as a run's file would be.
        QTRY_VERIFY_WITH_TIMEOUT(hasOpen(follow.processId(), writer.file()), 20000);
        while (writer.stepsWritten() < 12) {
            if (writer.stepsWritten() == 8) {
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
        QVERIFY(!follow.waitForFinished(700)); // the run is not over: the report waits
        QVERIFY(writer.writePiece() && writer.writePiece());
        writer.stop();
        QVERIFY2(follow.waitForFinished(10000), follow.readAllStandardError().constData());

        QProcess plain;
        plain.start(kReport, QStringList{"-o", folder.filePath("plain")} + options +
                                 QStringList{writer.file(), writer.recoveryFile()});
        QVERIFY(plain.waitForFinished(10000));
        QCOMPARE(follow.exitCode(), 0);
        QCOMPARE(plain.exitCode(), 0);
        const QByteArray live = fileBytes(folder.filePath("live/report.json"));
        QVERIFY(!live.isEmpty());
        QCOMPARE(live, fileBytes(folder.filePath("plain/report.json")));
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

QTEST_GUILESS_MAIN(TestLiveRun)
#include "tst_liverun.moc"
