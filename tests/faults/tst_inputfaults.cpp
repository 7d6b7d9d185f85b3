// What the operator types: parameter texts that are no numbers or do not fit,
// and test-item and tester texts that no file name can hold as they are.
#include "MainWindow.h"
#include "ReliabilityLog.h"
#include "ResultFile.h"
#include "RunDriver.h"
#include "SimulatedBench.h"
#include "TestContext.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTest>

namespace {

const QString kMeasured = QStringLiteral("TestThread: DMM Measure: ");
const QString kNormal = QStringLiteral("+1.23456789E+00");

int dmmColumns(const QString &heading)
{
    return int(heading.count(QStringLiteral("\tDMM")));
}

} // namespace

class tst_InputFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void parameters_data();
    void parameters();
    void texts_data();
    void texts();

private:
    SimulatedBench bench;
    RunDriver *run = nullptr;
};

void tst_InputFaults::initTestCase()
{
    ReliabilityLog::begin();
    QVERIFY2(bench.start(), qPrintable(bench.error()));
}

void tst_InputFaults::init()
{
    bench.clearTranscripts();
    run = new RunDriver(bench);
}

void tst_InputFaults::cleanup()
{
    delete run;
    run = nullptr;
}

void tst_InputFaults::parameters_data()
{
    QTest::addColumn<QStringList>("fields"); // Var_1 to Var_4
    QTest::addColumn<bool>("endsItself");
    QTest::addColumn<int>("rows");      // rows the run makes, or opens before the stop
    QTest::addColumn<int>("readings");  // readings taken before the stop
    QTest::addColumn<int>("perRow");    // readings in each complete row
    QTest::addColumn<int>("columns");   // DMM columns of the heading
    QTest::addColumn<QString>("named"); // the log line that tells what was made of it

    QTest::newRow("empty") << QStringList{"", "", "", ""} << true << 0 << 0 << 0 << 0
                           << "\"TestThread: Var_1 [] is not a number, 0 is taken\"";
    QTest::newRow("blanks") << QStringList{"   ", " ", " ", " "} << true << 0 << 0 << 0 << 0
                            << "\"TestThread: Var_1 [   ] is not a number, 0 is taken\"";
    QTest::newRow("blanks around digits") << QStringList{" 2 ", " 10", "1 ", " 0 "} << true << 2
                                          << 2 << 1 << 1 << "\"TestThread: 2 / 2\"";
    QTest::newRow("not a number") << QStringList{"two", "ten", "1", "0"} << true << 0 << 0 << 0 << 1
                                  << "\"TestThread: Var_1 [two] is not a number, 0 is taken\"";
    QTest::newRow("+5") << QStringList{"+2", "+10", "+1", "+0"} << true << 2 << 2 << 1 << 1
                        << "\"TestThread: 2 / 2\"";
    QTest::newRow("0x10") << QStringList{"0x10", "0", "1", "0"} << true << 0 << 0 << 0 << 1
                          << "\"TestThread: Var_1 [0x10] is not a number, 0 is taken\"";
    QTest::newRow("steps beyond 32 bits") << QStringList{"4294967298", "10", "1", "0"} << false << 3
                                          << 2 << 1 << 1 << "\"TestThread: 1 / 4294967298\"";
    QTest::newRow("steps at the 64-bit limit")
        << QStringList{"9223372036854775807", "10", "1", "0"} << false << 3 << 2 << 1 << 1
        << "\"TestThread: 1 / 9223372036854775807\"";
    QTest::newRow("steps beyond 64 bits")
        << QStringList{"99999999999999999999", "0", "1", "0"} << true << 0 << 0 << 0 << 1
        << "\"TestThread: Var_1 [99999999999999999999] is not a number, 0 is taken\"";
    QTest::newRow("settle wait beyond 32 bits")
        << QStringList{"3", "4294967396", "1", "0"} << false << 1 << 0 << 1 << 1
        << "\"TestThread: Delay: 4294967396\"";
    QTest::newRow("readings per step beyond 32 bits")
        << QStringList{"1", "0", "4294967297", "0"} << false << 1 << 3 << 100000 << 100000
        << "\"TestThread: Var_3 [4294967297] is too many readings, 100000 are taken\"";
    QTest::newRow("negative waits") << QStringList{"2", "-100", "2", "-5"} << true << 2 << 4 << 2
                                    << 2 << "\"TestThread: Delay: -100\"";
}

void tst_InputFaults::parameters()
{
    QFETCH(QStringList, fields);
    QFETCH(bool, endsItself);
    QFETCH(int, rows);
    QFETCH(int, readings);
    QFETCH(int, perRow);
    QFETCH(int, columns);
    QFETCH(QString, named);

    run->setParams(fields);
    run->clickStart();
    if (endsItself) {
        QVERIFY2(run->waitIdle(5000), "the run did not end by itself");
    } else {
        const auto reached = [&] {
            return ResultFile::parse(run->resultBytes()).rows.size() >= rows &&
                   run->logCount(kMeasured) >= readings;
        };
        QVERIFY2(QTest::qWaitFor(reached, 5000), "the run stalled");
        if (readings == 0) {
            QTest::qWait(300);
            QCOMPARE(run->logCount(kMeasured), 0); // the long wait is not cut short
        }
        QVERIFY(!run->isIdle());
        QVERIFY(run->stopAndStayStopped());
    }
    QCOMPARE(run->stops(), 1);

    const ResultFile file = ResultFile::parse(run->resultBytes());
    QVERIFY(file.stray.isEmpty());
    QCOMPARE(file.head.size(), 5);
    QCOMPARE(dmmColumns(file.heading), columns);
    if (endsItself)
        QCOMPARE(file.rows.size(), rows);
    else
        QVERIFY(file.rows.size() >= rows);
    QCOMPARE(file.finished, endsItself && rows > 0);
    for (int i = 0; i < file.rows.size(); ++i) {
        const QStringList &row = file.rows[i];
        QCOMPARE(row.mid(0, 2), QStringList({QString::number(i + 1), QString::number(i + 1)}));
        if (!(file.lastRowOpen && i == file.rows.size() - 1))
            QCOMPARE(row.size() - 2, perRow);
    }
    // Every reading taken is in the file, and every value sent reached the board.
    QCOMPARE(file.readings(), QStringList(QList<QString>(run->logCount(kMeasured), kNormal)));
    QVERIFY(file.readings().size() >= readings);
    QTRY_COMPARE(int(bench.boardValues().size()), int(file.rows.size()));
    QVERIFY2(run->log().lines().contains(named), qPrintable(run->log().lines().join('\n')));
    QString progress;
    if (fields[0].contains(QStringLiteral("9223372036854775807"))) {
        // The progress text after a step stays sane at the 64-bit limit.
        progress = run->window()->findChild<QLabel *>("testtime")->text();
        QVERIFY2(progress.startsWith(QStringLiteral("进度：0%  ( ")) && !progress.contains('-'),
                 qPrintable(progress));
        progress = QStringLiteral("; progress text \"%1\"").arg(progress);
    }

    const QString fieldText =
        QStringLiteral("Var_1 to Var_4: \"%1\"").arg(fields.join(QStringLiteral("\", \"")));
    ReliabilityLog::add(QStringLiteral("Parameters"),
                        QString::fromUtf8(QTest::currentDataTag()) + QStringLiteral(" (") +
                            fieldText + QLatin1Char(')'),
                        (endsItself ? QStringLiteral("run ended by itself after %1 steps")
                                    : QStringLiteral("stopped by autotest during step %1"))
                                .arg(rows) +
                            progress + QStringLiteral("; log: ") + named,
                        file.describe());
}

void tst_InputFaults::texts_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("tester");
    QTest::addColumn<QString>("nameParts"); // "[item][tester]" as the file name holds them

    QTest::newRow("slash") << "DAC/2"
                           << "QA/B"
                           << "[DAC_2][QA_B]";
    QTest::newRow("dot-dot") << ".."
                             << "../../etc"
                             << "[..][.._.._etc]";
    QTest::newRow("colon") << "DAC:1"
                           << "C:"
                           << "[DAC_1][C_]";
    QTest::newRow("control characters")
        << QStringLiteral("a\tb\x01") << QStringLiteral("QA\nX\r") << "[a_b_][QA_X_]";
    QTest::newRow("300 characters")
        << QString(300, 'A') << QString(300, QChar(0x5F20))
        << "[" + QString(100, 'A') + "][" + QString(33, QChar(0x5F20)) + "]";
}

void tst_InputFaults::texts()
{
    QFETCH(QString, item);
    QFETCH(QString, tester);
    QFETCH(QString, nameParts);

    run->setText("filename", item);
    run->setText("tester", tester);
    run->setParams({"2", "0", "1", "0"});
    run->clickStart();
    QVERIFY(run->waitIdle(5000));

    // The one file of the run lies in the chosen folder, whatever the texts.
    const QString fileName = QFileInfo(TestContext.resultFilePath).fileName();
    QCOMPARE(QDir(run->resultsFolder()).entryList(QDir::Files | QDir::Hidden),
             QStringList{fileName});
    QCOMPARE(QFileInfo(TestContext.resultFilePath).absolutePath(), run->resultsFolder());
    QVERIFY2(fileName.startsWith(QStringLiteral("[AutoTest]") + nameParts + "["),
             qPrintable(fileName));
    QVERIFY(fileName.toUtf8().size() <= 255);

    // The head keeps the texts as typed, each on its one line.
    const auto oneLine = [](QString text) {
        return text.replace('\r', ' ').replace('\n', ' ');
    };
    const ResultFile file = ResultFile::parse(run->resultBytes());
    QVERIFY(file.stray.isEmpty());
    QCOMPARE(file.head.value(1), QStringLiteral("测试名: [") + oneLine(item) + "]");
    QCOMPARE(file.head.value(2), QStringLiteral("测试人: [") + oneLine(tester) + "]");
    QCOMPARE(file.heading, QStringLiteral("No.\tDAC\tDMM1"));
    QCOMPARE(file.readings(), QStringList({kNormal, kNormal}));
    QVERIFY(file.finished);

    QString shown = nameParts;
    if (shown.size() > 60)
        shown = shown.left(28) + QStringLiteral("…") + shown.right(28);
    ReliabilityLog::add(QStringLiteral("Texts"),
                        QStringLiteral("test item and tester: ") +
                            QString::fromUtf8(QTest::currentDataTag()),
                        QStringLiteral("run ended by itself; file named ") + shown +
                            QStringLiteral(" in the chosen folder; head block keeps the texts, "
                                           "line breaks as blanks"),
                        file.describe());
}

QTEST_MAIN(tst_InputFaults)
#include "tst_inputfaults.moc"
