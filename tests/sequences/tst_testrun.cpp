// Whole runs through the real window, once per behaviour, against the
// simulated multimeter on loopback TCP and board on a pseudo-terminal: the
// file, the wire, the widgets and the log as the operator and the lab see them.
#include "app/MainWindow.h"
#include "app/WindowLanguage.h"
#include "context/TestContext.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/WindowDriver.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTranslator>

#include <memory>

namespace {

const QRegularExpression kReading(QStringLiteral("[+-]\\d\\.\\d+E[+-]\\d{2}"));
const QRegularExpression kStamp(QStringLiteral("\\[\\d{6} \\d{6}\\]"));

} // namespace

class tst_TestRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void automaticRun();
    void singleStepRun();
    void noMultimeterRecordsErr();
    void englishWindowWritesTheSameFileAndLog();

private:
    QString text(const char *label) const
    {
        return run->window()->findChild<QLabel *>(label)->text();
    }
    QString caption() const { return run->window()->findChild<QPushButton *>("autotest")->text(); }
    // The result file with its time stamps masked.
    QString resultText() const
    {
        return QString::fromUtf8(run->resultBytes()).replace(kStamp, QStringLiteral("[time]"));
    }

    SimulatedBench bench;
    WindowDriver *run = nullptr;
};

void tst_TestRun::initTestCase()
{
    // A reading both tests' ranges take: 10 V for DAC, 1 mA for ISINK.
    QVERIFY2(bench.start({"--reading", "0.000123456"}), qPrintable(bench.error()));
}

void tst_TestRun::init()
{
    bench.clearTranscripts();
    run = new WindowDriver(bench);
    run->setText("filename", QStringLiteral("TR45K210_DAC"));
}

void tst_TestRun::cleanup()
{
    delete run;
    run = nullptr;
}

// The DAC test. The ISINK test differs only by its test kind: its set-up on
// the wire and its file in tests/tools (tst_runnerplan, tst_benchtestrun).
void tst_TestRun::automaticRun()
{
    const QString testName = run->window()->findChild<QComboBox *>("testname")->currentText();
    run->setParams({"3", "10", "2", "5"});
    run->clickStart();
    QVERIFY(run->waitIdle(10000));
    QCOMPARE(run->stops(), 1);

    // The result file, whole, with its stamps and readings masked.
    QString file = resultText();
    QStringList readings;
    for (const QRegularExpressionMatch &match : kReading.globalMatch(file))
        readings << match.captured();
    QCOMPARE(file.replace(kReading, QStringLiteral("R")),
             "测试项: [" + testName +
                 "]\n测试名: [TR45K210_DAC]\n测试人: [QA]\n开始时间: [time]\n\n"
                 "No.\tDAC\tDMM1\tDMM2\n1\t1\tR\tR\n2\t2\tR\tR\n3\t3\tR\tR\n\n完成时间: [time]\n");
    QVERIFY(TestContext.resultFilePath.startsWith(run->resultsFolder() +
                                                  "/[AutoTest][TR45K210_DAC][QA]["));

    // What the instruments saw: every command one line, escaped in the transcript.
    QStringList expectedMeter{
        "*IDN?",          "*CLS", "*CLS", "CONF:VOLT:DC", "VOLT:DC:NPLC 10", "VOLT:DC:IMP:AUTO ON",
        "VOLT:DC:RANG 10"};
    for (int i = 0; i < 6; ++i)
        expectedMeter << "Read?";
    for (QString &line : expectedMeter)
        line += "\\n";
    QCOMPARE(bench.meterLines(), expectedMeter);
    QTRY_COMPARE(bench.boardValues(), QList<qint32>({1, 2, 3}));
    QCOMPARE(bench.badFrames(), 0);

    // What the operator sees at the end.
    QCOMPARE(text("testtime"), QStringLiteral("进度：已完成！"));
    QCOMPARE(run->window()->findChild<QProgressBar *>("testprogress")->value(), 100);
    QCOMPARE(text("Status"), QStringLiteral("DMM Measure 2: ") + readings.last());

    // The log in order, quoted where a line is composed at run time.
    const QStringList expectedLog = {
        "UI: Start AutoTest\r\n",
        "UI: Refresh Value\r\n",
        debugQuoted("TestThread: Init Test Enviroment"),
        debugQuoted("TestThread: 1 / 3"),
        debugQuoted("TestThread: UART Send DAC: 1"),
        debugQuoted("TestThread: Delay: 10"),
        debugQuoted("TestThread: DMM Measure: " + readings[0]),
        debugQuoted("TestThread: Delay: 5"),
        debugQuoted("TestThread: DMM Measure: " + readings[1]),
        debugQuoted("TestThread: 2 / 3"),
        debugQuoted("TestThread: 3 / 3"),
        debugQuoted("TestThread: Test Finished"),
        "UI: Stop AutoTest\r\n",
        "TestThread: Deinit Test Enviroment",
    };
    const QStringList logged = run->log().lines();
    qsizetype at = 0;
    for (const QString &line : expectedLog) {
        const qsizetype found = logged.indexOf(line, at);
        QVERIFY2(found >= at, qPrintable("missing or out of order: " + line));
        at = found;
    }
    QCOMPARE(logged.count(debugQuoted("TestThread: Delay: 5")), 3);
}

// Each press runs exactly one phase; the widgets follow every phase.
void tst_TestRun::singleStepRun()
{
    run->setParams({"2", "40", "3", "30"});
    run->clickSingleStep();
    QCOMPARE(caption(), QStringLiteral("退出单步"));
    QTRY_COMPARE_WITH_TIMEOUT(bench.boardValues(), QList<qint32>({1}), 3000); // by itself

    // After each press: the status line and the progress text.
    const QList<QPair<QString, QString>> phases = {
        {"DMM Measure 1: ", "进度：--"},       {"DMM Measure 2: ", "进度：--"},
        {"DMM Measure 3: ", "进度：50%"},      {"UART Send DAC: 2", "进度：50%"},
        {"DMM Measure 1: ", "进度：50%"},      {"DMM Measure 2: ", "进度：50%"},
        {"DMM Measure 3: ", "进度：已完成！"},
    };
    for (const auto &[status, progress] : phases) {
        const qsizetype before = run->log().lines().size();
        run->clickSingleStep();
        QVERIFY(QTest::qWaitFor([&] { return run->log().lines().size() > before + 1; }));
        // The widgets follow the run's thread through the window's event loop.
        QTRY_VERIFY2(text("Status").startsWith(status) && text("testtime").startsWith(progress),
                     qPrintable(text("Status") + " | " + text("testtime")));
    }
    QVERIFY(run->isIdle());
    QCOMPARE(run->log().count("TestThread: Single Step"), 7);
    QCOMPARE(bench.boardValues(), QList<qint32>({1, 2}));
    QCOMPARE(bench.meterLines().count("Read?\\n"), 6);
    // The delays named are the configured ones, though no timer waits for them.
    QCOMPARE(run->log().count(debugQuoted("TestThread: Delay: 40")), 2);
    QCOMPARE(run->log().count(debugQuoted("TestThread: Delay: 30")), 4);
    QCOMPARE(resultText().replace(kReading, QStringLiteral("R")).section('\n', 6),
             QStringLiteral("1\t1\tR\tR\tR\n2\t2\tR\tR\tR\n\n完成时间: [time]\n"));
}

void tst_TestRun::noMultimeterRecordsErr()
{
    run->setMeter(bench.refusedResource());
    run->setParams({"2", "0", "2", "0"});
    run->clickStart();
    QVERIFY(run->waitIdle(10000));
    QCOMPARE(run->logCount("DMM_34461A: Connect Failed"), 1);
    QCOMPARE(resultText().section('\n', 6, 7), QStringLiteral("1\t1\tERR\tERR\n2\t2\tERR\tERR"));
    // The run is not whole, and the window's last word says why.
    QCOMPARE(text("Status"), QStringLiteral("完成，但有：4 个 ERR 读数"));
    QCOMPARE(text("testtime"), QStringLiteral("进度：已完成！"));
    QCOMPARE(run->log().count(debugQuoted("TestThread: DMM Measure: ERR")), 4);
    QTRY_COMPARE(bench.boardValues(), QList<qint32>({1, 2}));
}

// The captions follow the language; the file, apart from its times, and the
// log do not.
void tst_TestRun::englishWindowWritesTheSameFileAndLog()
{
    auto sweep = [this](QString *file, QStringList *log) {
        run->setParams({"3", "0", "2", "0"});
        run->clickStart();
        QVERIFY(run->waitIdle(10000));
        *file = resultText();
        *log = run->log().lines();
    };
    QString chinese, english;
    QStringList chineseLog, englishLog;
    sweep(&chinese, &chineseLog);
    cleanup(); // in the language the window was made in
    QVERIFY(!installWindowLanguage(QLocale(QLocale::Chinese, QLocale::China)));
    const std::unique_ptr<QTranslator> translator(
        installWindowLanguage(QLocale(QLocale::English, QLocale::UnitedKingdom)));
    QVERIFY(translator);
    init();
    QCOMPARE(caption(), QStringLiteral("Auto test"));
    QVERIFY(run->window()->findChild<QTextEdit *>("testmsg")->toPlainText().contains(
        "The multimeter measures the voltage [*2] times"));
    sweep(&english, &englishLog);
    // The run's own texts on the form follow the window's language too.
    QCOMPARE(text("testtime"), QStringLiteral("Progress: finished!"));

    QVERIFY(chinese.startsWith("测试项: [DAC - 串口发送DAC值，万用表采集电压]\n"));
    QVERIFY(chinese.endsWith("\n\n完成时间: [time]\n")); // a whole run
    QCOMPARE(english, chinese);
    QCOMPARE(englishLog, chineseLog);
}

QTEST_MAIN(tst_TestRun)
#include "tst_testrun.moc"
