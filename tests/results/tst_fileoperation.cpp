// The result file: byte-exact layout, append-per-piece, the file name, and
// the loss of pieces that cannot be written.

#include "context/TestContext.h"
#include "results/FileOperation.h"
#include "results/ResultFileName.h"
#include "tests/support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

static const QDateTime startTime(QDate(2022, 8, 27), QTime(14, 30, 5));

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

static bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

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

    void wholeRun_matchesGoldenFile();
    void sameSecondTwice_secondRunFollowsFirst();
    void appendText_data();
    void appendText();
    void timeStamp();
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
    writer = new FileOperation([] { return startTime; });
}

void TestFileOperation::cleanup()
{
    delete writer;
    writer = nullptr;
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files))
        QFile::remove(dir.filePath(name));
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
        readAll(QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/results/data/dac_run.txt"));
    QVERIFY(!golden.isEmpty());
    const QByteArray written = readAll(path);
    QVERIFY2(written == golden,
             qPrintable(QStringLiteral("written:\n%1\nexpected:\n%2")
                            .arg(QString::fromUtf8(written), QString::fromUtf8(golden))));
}

void TestFileOperation::sameSecondTwice_secondRunFollowsFirst()
{
    TestContext.testName = QStringLiteral("ISINK");
    TestContext.testItem = QStringLiteral("item");
    TestContext.tester = QStringLiteral("me");

    writer->CreateResultFile();
    writer->AppendText(TestContext.resultFilePath, QStringLiteral("1\t1"), false);
    FileOperation secondRun([] { return startTime; });
    secondRun.CreateResultFile();

    const QByteArray head =
        headBlock(QStringLiteral("ISINK"), QStringLiteral("item"), QStringLiteral("me"));
    QCOMPARE(readAll(TestContext.resultFilePath), head + "1\t1" + head);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

void TestFileOperation::appendText_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("lineEnd");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty text, no line end: creates the file")
        << false << QString() << false << QByteArray();
    QTest::newRow("keeps what is there, line end")
        << true << QString() << true << QByteArray("1\t1\n");
    QTest::newRow("inner newlines")
        << false << QStringLiteral("\na\nb") << true << QByteArray("\na\nb\n");
    QTest::newRow("local 8-bit encoding") << false << QStringLiteral("完成 µ") << false
                                          << QByteArray("\xe5\xae\x8c\xe6\x88\x90 \xc2\xb5");
}

void TestFileOperation::appendText()
{
    QFETCH(bool, existing);
    QFETCH(QString, text);
    QFETCH(bool, lineEnd);
    QFETCH(QByteArray, expected);

    const QString path = dir.filePath(QStringLiteral("result.txt"));
    if (existing)
        QVERIFY(writeFile(path, "1\t1"));

    writer->AppendText(path, text, lineEnd);

    QVERIFY(QFile::exists(path));
    QCOMPARE(readAll(path), expected);
}

// Two digits each, on a 24-hour clock.
void TestFileOperation::timeStamp()
{
    QCOMPARE(resultTimeStamp(QDateTime(QDate(2009, 1, 2), QTime(3, 4, 5))), "090102 030405");
    QCOMPARE(resultTimeStamp(QDateTime(QDate(2030, 12, 31), QTime(0, 0))), "301231 000000");
    QCOMPARE(resultTimeStamp(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59))), "240229 235959");
}

void TestFileOperation::resultFileName_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("tester");
    QTest::addColumn<QString>("named"); // between "[AutoTest]" and the time stamp

    QTest::newRow("plain") << "TR45K210_DAC"
                           << "XXX"
                           << "[TR45K210_DAC][XXX]";
    QTest::newRow("blanks, dots and other scripts kept") << "板 1.2 (rev-3) ä"
                                                         << "张工"
                                                         << "[板 1.2 (rev-3) ä][张工]";
    QTest::newRow("path escape") << "../../etc/x"
                                 << ".."
                                 << "[.._.._etc_x][..]";
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
    QCOMPARE(readAll(TestContext.resultFilePath), headBlock("DAC", "../x:1 2", "<me>  "));
    QCOMPARE(log.lines(), QStringList());
}

// A run whose folder is gone keeps everything in a recovery file of the same
// layout, and says where; each run reports its own loss.
void TestFileOperation::missingFolder_restGoesToARecoveryFile()
{
    TestContext.savePath = dir.filePath(QStringLiteral("missing"));
    TestContext.testItem = QStringLiteral("item");
    TestContext.tester = QStringLiteral("me");
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
    QCOMPARE(readAll(recovery), headBlock("", "item", "me") + "No.\tDAC\n1\t1");

    // The next run reports its own loss, into a recovery file of its own.
    writer->CreateResultFile();
    QCOMPARE(log.lines().size(), 4);
    QCOMPARE(writer->recoveryFile(),
             dir.filePath(QStringLiteral("recovery/") + name + QStringLiteral(" (2).txt")));
}

void TestFileOperation::diskFull_oneLogLine()
{
    const QString full = QStringLiteral("/dev/full");
    if (!QFileInfo::exists(full))
        QSKIP("needs /dev/full to stand for a full disk");

    LogCapture log;
    writer->AppendText(full, QStringLiteral("1\t1\t+1.0E-03"), true);
    writer->AppendText(full, QStringLiteral("2\t2"), false);
    // Qt adds its own complaint about seeking on a character device; count ours.
    const QStringList ours = log.lines().filter(QStringLiteral("FileOperation:"));
    QCOMPARE(ours, QStringList{QStringLiteral(
                       "\"FileOperation: cannot write /dev/full: No space left on device\"")});
}

QTEST_GUILESS_MAIN(TestFileOperation)
#include "tst_fileoperation.moc"
