// The result file: byte-exact layout, append-per-piece, the file name, the
// loss of pieces that cannot be written, and the progress text of a run.

#include "context/TestContext.h"
#include "results/FileOperation.h"
#include "results/ResultFileName.h"
#include "tests/support/FailingFileSystem.h"
#include "tests/support/FileBytes.h"
#include "tests/support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <limits>

static const QDateTime startTime(QDate(2022, 8, 27), QTime(14, 30, 5));

static QByteArray headBlock(const QString &testName, const QString &item, const QString &tester)
{
    return (QStringLiteral(
                "测试项: [%1]\n测试名: [%2]\n测试人: [%3]\n开始时间: [220827 143005]\n\n")
                .arg(testName, item, tester))
        .toUtf8();
}

// The fields the result file reads and writes, as at the start of the process.
static void resetRunFields()
{
    TestContext.testName.clear();
    TestContext.testItem.clear();
    TestContext.tester.clear();
    TestContext.savePath.clear();
    TestContext.resultFilePath.clear();
}

class TestFileOperation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void progressText_data();
    void progressText();

    void wholeRun_matchesGoldenFile();
    void sameSecondTwice_eachRunHasItsOwnFile();
    void plantedNames_areNeverFollowed_data();
    void plantedNames_areNeverFollowed();
    void linkPlantedMidRun_restGoesToRecovery();
    void lineEnds_areSyncedToDisk();
    void resultFileName_data();
    void resultFileName();
    void createResultFile_sanitisesNameOnly();
    void missingFolder_restGoesToARecoveryFile();
    void diskFull_oneLogLine();

private:
    QTemporaryDir dir;
    FileOperation *writer = nullptr;
};

void TestFileOperation::init()
{
    QVERIFY(dir.isValid());
    resetRunFields();
    TestContext.savePath = dir.path();
    TestContext.testItem = QStringLiteral("item");
    TestContext.tester = QStringLiteral("me");
    writer = new FileOperation([] { return startTime; });
}

void TestFileOperation::cleanup()
{
    delete writer;
    writer = nullptr;
    // Links, dangling ones included, and the recovery folder go too.
    QDir(dir.path()).removeRecursively();
    QDir().mkpath(dir.path());
    resetRunFields();
}

void TestFileOperation::wholeRun_matchesGoldenFile()
{
    TestContext.testName = QStringLiteral("DAC 输出测试");
    TestContext.testItem = QStringLiteral("TR45K210_DAC");
    TestContext.tester = QStringLiteral("张工");

    writer->CreateResultFile();
    const QString path = TestContext.resultFilePath;
    QCOMPARE(path,
             dir.path() + QStringLiteral("/[AutoTest][TR45K210_DAC][张工][220827 143005].txt"));

    // Pieces in the order a DAC run with two readings per step writes them.
    writer->AppendText(path, QStringLiteral("No.\tDAC\tDMM1\tDMM2"), true);
    const QStringList readings = {"+1.00012E-03", "+1.00009E-03", "ERR",
                                  "+2.00031E-03", "+3.00007E-03", "+3.00002E-03"};
    for (int step = 1; step <= 3; ++step) {
        writer->AppendText(path, QStringLiteral("%1\t%1").arg(step), false);
        for (int k = 0; k < 2; ++k)
            writer->AppendText(path, QLatin1Char('\t') + readings.at((step - 1) * 2 + k), false);
        writer->AppendText(path, QString(), true);
    }
    writer->AppendText(path, QStringLiteral("\n完成时间: [220827 143112]"), true);

    const QByteArray golden =
        fileBytes(QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/results/data/dac_run.txt"));
    QVERIFY(!golden.isEmpty());
    const QByteArray written = fileBytes(path);
    QVERIFY2(written == golden,
             qPrintable(QStringLiteral("written:\n%1\nexpected:\n%2")
                            .arg(QString::fromUtf8(written), QString::fromUtf8(golden))));

    // An empty piece without a line end makes the file, and nothing else.
    const QString empty = dir.filePath(QStringLiteral("empty.txt"));
    writer->AppendText(empty, QString(), false);
    QVERIFY(QFile::exists(empty) && fileBytes(empty).isEmpty());
}

// A run never writes into a file that exists: two runs of one second, with
// one item and tester, each get a file of their own, the second with " (2)".
void TestFileOperation::sameSecondTwice_eachRunHasItsOwnFile()
{
    TestContext.testName = QStringLiteral("ISINK");

    writer->CreateResultFile();
    const QString first = TestContext.resultFilePath;
    writer->AppendText(first, QStringLiteral("1\t1"), false);
    FileOperation secondRun([] { return startTime; });
    LogCapture log;
    secondRun.CreateResultFile();
    const QString second = TestContext.resultFilePath;
    secondRun.AppendText(second, QStringLiteral("2\t2"), false);

    const QByteArray head =
        headBlock(QStringLiteral("ISINK"), QStringLiteral("item"), QStringLiteral("me"));
    QCOMPARE(second, dir.filePath(QStringLiteral("[AutoTest][item][me][220827 143005] (2).txt")));
    QCOMPARE(secondRun.takenName(), first);
    QCOMPARE(fileBytes(first), head + "1\t1");
    QCOMPARE(fileBytes(second), head + "2\t2");
    QCOMPARE(log.lines(),
             QStringList({QStringLiteral("\"FileOperation: %1 is taken (a file is there), this run "
                                         "writes %2\"")
                              .arg(first, second)}));
}

// Whatever a planted name points at stays as it was: the run takes the next
// free name. The record's name counts as the file's.
void TestFileOperation::plantedNames_areNeverFollowed_data()
{
    QTest::addColumn<QString>("planted"); // "link", "dangling", "record", "record-link"
    QTest::newRow("link to a victim file") << "link";
    QTest::newRow("dangling link") << "dangling";
    QTest::newRow("another run's record") << "record";
    QTest::newRow("link under the record's name") << "record-link";
}

void TestFileOperation::plantedNames_areNeverFollowed()
{
    QFETCH(QString, planted);
    const QString stem = dir.filePath(QStringLiteral("[AutoTest][item][me][220827 143005]"));
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    QVERIFY(writeFileBytes(victim, "precious\n"));
    const QString target = planted == "dangling" ? elsewhere.filePath("chosen") : victim;
    const QString at = stem + (planted.startsWith("record") ? ".json" : ".txt");
    if (planted == "record")
        QVERIFY(writeFileBytes(at, "{}"));
    else
        QVERIFY(QFile::link(target, at));

    writer->CreateResultFile();
    writer->AppendText(TestContext.resultFilePath, QStringLiteral("No.\tDAC"), true);

    QCOMPARE(TestContext.resultFilePath, stem + " (2).txt");
    QCOMPARE(fileBytes(victim), QByteArray("precious\n"));
    QVERIFY(!QFileInfo::exists(elsewhere.filePath("chosen")));
    QVERIFY(fileBytes(TestContext.resultFilePath).endsWith("No.\tDAC\n"));
}

// A link put in place of the run's file mid-run is not written through: the
// rest goes to a recovery file, and the linked-to file stays as it was.
void TestFileOperation::linkPlantedMidRun_restGoesToRecovery()
{
    writer->setRecoveryFolder(dir.filePath(QStringLiteral("recovery")));
    writer->CreateResultFile();
    const QString path = TestContext.resultFilePath;
    writer->AppendText(path, QStringLiteral("No.\tDAC"), true);
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    QVERIFY(writeFileBytes(victim, "precious\n"));
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::link(victim, path));

    LogCapture log;
    writer->AppendText(path, QStringLiteral("1\t1"), false);
    QCOMPARE(fileBytes(victim), QByteArray("precious\n"));
    QVERIFY(!writer->recoveryFile().isEmpty());
    QVERIFY(fileBytes(writer->recoveryFile()).endsWith("No.\tDAC\n1\t1"));
    QVERIFY(log.lines().first().contains("is no longer the file this run created"));
}

// A piece that ends a line is on disk when AppendText returns; the others
// are put there with the next line end.
void TestFileOperation::lineEnds_areSyncedToDisk()
{
    FailingFileSystem disk;
    FileOperation syncing([] { return startTime; }, disk);
    syncing.CreateResultFile();
    const qint64 afterHead = disk.syncs();
    QVERIFY(afterHead >= 1);
    const QString path = TestContext.resultFilePath;
    syncing.AppendText(path, QStringLiteral("1\t1"), false);
    syncing.AppendText(path, QStringLiteral("\t+1.0E-03"), false);
    QCOMPARE(disk.syncs(), afterHead);
    syncing.AppendText(path, QString(), true);
    QCOMPARE(disk.syncs(), afterHead + 1);
    QVERIFY(syncing.SyncResultFile());
    QCOMPARE(disk.syncs(), afterHead + 2);
}

void TestFileOperation::resultFileName_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("tester");
    QTest::addColumn<QString>("named"); // between "[AutoTest]" and the time stamp

    QTest::newRow("blanks, dots and other scripts kept") << "板 1.2 (rev-3) ä"
                                                         << "张工"
                                                         << "[板 1.2 (rev-3) ä][张工]";
    QTest::newRow("characters file systems refuse") << "*?\"<>|\\"
                                                    << "a:b"
                                                    << "[_______][a_b]";
    QTest::newRow("control characters")
        << QStringLiteral("a\tb\nc\x7f") << QStringLiteral("\x01") << "[a_b_c_][_]";
    // Item and tester keep at most 100 bytes each: the name stays within 255.
    QTest::newRow("300 characters") << QString(300, 'x') << QString(101, 'y')
                                    << "[" + QString(100, 'x') + "][" + QString(100, 'y') + "]";
    QTest::newRow("long text cut between characters")
        << QString(40, QChar(0x677F)) << "a" + QString(40, QChar(0x5F20))
        << "[" + QString(33, QChar(0x677F)) + "][a" + QString(33, QChar(0x5F20)) + "]";
    QTest::newRow("surrogate pair kept whole")
        << QString(98, 'x') + QString::fromUtf8("\xF0\x9F\x98\x80") << "b"
        << "[" + QString(98, 'x') + "][b]";
}

void TestFileOperation::resultFileName()
{
    QFETCH(QString, item);
    QFETCH(QString, tester);
    QFETCH(QString, named);
    QCOMPARE(::resultFileName("/r", item, tester, "220827 143005"),
             "/r/[AutoTest]" + named + "[220827 143005].txt");
}

// The name is made safe; the head keeps what the operator typed, but for
// line breaks.
void TestFileOperation::createResultFile_sanitisesNameOnly()
{
    TestContext.testName = QStringLiteral("DAC");
    TestContext.testItem = QStringLiteral("../x:1\n2");
    TestContext.tester = QStringLiteral("<me>\r\n");
    const QString fileName = QStringLiteral("[AutoTest][.._x_1_2][_me___][220827 143005].txt");
    LogCapture log;
    writer->CreateResultFile();

    QCOMPARE(TestContext.resultFilePath, dir.filePath(fileName));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{fileName});
    QCOMPARE(fileBytes(TestContext.resultFilePath), headBlock("DAC", "../x:1 2", "<me>  "));
    QCOMPARE(log.lines(), QStringList());
}

// A run whose folder is gone keeps everything in a recovery file of the same
// layout, and says where; each run reports its own loss.
void TestFileOperation::missingFolder_restGoesToARecoveryFile()
{
    TestContext.savePath = dir.filePath(QStringLiteral("missing"));
    writer->setRecoveryFolder(dir.filePath(QStringLiteral("recovery")));
    const QString name = QStringLiteral("[AutoTest][item][me][220827 143005]");
    const QString path = TestContext.savePath + QLatin1Char('/') + name + QStringLiteral(".txt");
    const QString recovery =
        dir.filePath(QStringLiteral("recovery/") + name + QStringLiteral(".txt"));

    LogCapture log;
    writer->CreateResultFile();
    QCOMPARE(TestContext.resultFilePath, path);
    writer->AppendText(path, QStringLiteral("No.\tDAC"), true);
    writer->AppendText(path, QStringLiteral("1\t1"), false);
    QCOMPARE(
        log.lines(),
        QStringList(
            {QStringLiteral("\"FileOperation: cannot write %1: No such file or directory\"")
                 .arg(path),
             QStringLiteral("\"FileOperation: the rest of the run goes to %1\"").arg(recovery)}));
    QVERIFY(!QFileInfo::exists(TestContext.savePath));
    QCOMPARE(writer->recoveryFile(), recovery);
    QCOMPARE(writer->piecesNotWritten(), 0);
    QCOMPARE(fileBytes(recovery), headBlock("", "item", "me") + "No.\tDAC\n1\t1");

    // The next run reports its own loss, into a recovery file of its own.
    writer->CreateResultFile();
    QCOMPARE(log.lines().size(), 4);
    QCOMPARE(writer->recoveryFile(),
             dir.filePath(QStringLiteral("recovery/") + name + QStringLiteral(" (2).txt")));
}

// A full disk refuses every piece; the first refusal is logged once.
void TestFileOperation::diskFull_oneLogLine()
{
    FailingFileSystem disk(1, ENOSPC);
    disk.countWritesOnly();
    disk.failOnward();
    FileOperation full([] { return startTime; }, disk);
    const QString path = dir.filePath(QStringLiteral("other.txt"));

    LogCapture log;
    full.AppendText(path, QStringLiteral("1\t1\t+1.0E-03"), true);
    full.AppendText(path, QStringLiteral("2\t2"), false);
    QCOMPARE(full.piecesNotWritten(), 2);
    QCOMPARE(fileBytes(path), QByteArray());
    QCOMPARE(
        log.lines(),
        QStringList{QStringLiteral("\"FileOperation: cannot write %1: No space left on device\"")
                        .arg(path)});
}

void TestFileOperation::progressText_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("text");

    // The worked examples.
    QTest::newRow("minutes") << 90000LL << 10LL << 4LL << 40 << "进度：40%  ( 2m 15s )";
    QTest::newRow("seconds, percent truncated")
        << 1000LL << 3LL << 1LL << 33 << "进度：33%  ( 2s )";

    // Unit boundaries: every unit below the largest is shown, even at 0.
    QTest::newRow("one minute") << 60000LL << 2LL << 1LL << 50 << "进度：50%  ( 1m 0s )";
    QTest::newRow("days and every unit") << 2LL * 86400000 + 3600000 + 60000 + 1999 << 2LL << 1LL
                                         << 50 << "进度：50%  ( 2d 1h 1m 1s )";
    QTest::newRow("product before division")
        << 10LL << 1000LL << 3LL << 0 << "进度：0%  ( 3s )"; // 997 * 10 / 3 = 3323 ms

    // The clock set back during the run: units chosen by magnitude, each signed.
    QTest::newRow("negative minutes") << -90000LL << 2LL << 1LL << 50 << "进度：50%  ( -1m -30s )";
    QTest::newRow("negative under a second") << -999LL << 2LL << 1LL << 50 << "进度：50%  ( 0s )";

    // Step counts and times at the 64-bit limit: the products do not overflow,
    // a remaining time beyond the limit is shown as the limit.
    const qint64 max = std::numeric_limits<qint64>::max();
    const QString longest = "106751991167d 7h 12m 55s";
    QTest::newRow("steps at the limit")
        << 1000LL << max << 1LL << 0 << "进度：0%  ( " + longest + " )";
    QTest::newRow("time at the limit")
        << max << 3LL << 1LL << 33 << "进度：33%  ( " + longest + " )";
    QTest::newRow("time at the negative limit")
        << std::numeric_limits<qint64>::min() << 3LL << 1LL << 33
        << "进度：33%  ( -106751991167d -7h -12m -55s )";

    // No completed step or no steps: nothing to extrapolate from.
    QTest::newRow("nothing done yet") << 5000LL << 10LL << 0LL << 0 << "进度：0%  ( -- )";
    QTest::newRow("no steps") << 5000LL << 0LL << 0LL << 0 << "进度：0%  ( -- )";
    QTest::newRow("negative count") << 5000LL << 10LL << -1LL << 0 << "进度：0%  ( -- )";
    QTest::newRow("all done") << 5000LL << 10LL << 10LL << 100 << "进度：100%  ( 0s )";
}

void TestFileOperation::progressText()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(qint64, total);
    QFETCH(qint64, done);
    QFETCH(int, percent);
    QFETCH(QString, text);

    FileOperation progress;
    QString shownText = QStringLiteral("previous text");
    int shownPercent = -7;
    progress.ProgressText(shownText, shownPercent, elapsedMs, total, done);

    QCOMPARE(shownText, text);
    QCOMPARE(shownPercent, percent);
}

QTEST_GUILESS_MAIN(TestFileOperation)
#include "tst_fileoperation.moc"
