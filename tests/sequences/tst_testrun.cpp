// Whole runs driven from the real window, against the simulated multimeter on
// loopback TCP and the simulated board on a pseudo-terminal.
#include "ContextReset.h"
#include "LogCapture.h"
#include "MainWindow.h"
#include "SimulatedBench.h"
#include "TestContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kIdle = QStringLiteral("自动测试");
const QRegularExpression kReading(QStringLiteral("^[+-]\\d\\.\\d+E[+-]\\d{2}$"));
const QRegularExpression kStamp(QStringLiteral("^\\d{6} \\d{6}$"));

} // namespace

class tst_TestRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void automaticRun_data();
    void automaticRun();
    void singleStepRun();
    void operatorStepCutsTheStartWait();
    void stopMidStep();
    void noMultimeterRecordsErr();

private:
    QPushButton *button(const char *name) { return window->findChild<QPushButton *>(name); }
    QLabel *label(const char *name) { return window->findChild<QLabel *>(name); }
    void setParams(const QStringList &values);
    void setMeter(const QString &resource);
    bool runToEnd(int timeoutMs = 10000);
    QStringList resultLines() const;
    QByteArray resultBytes() const;

    SimulatedBench bench;
    MainWindow *window = nullptr;
    LogCapture *log = nullptr;
    QTemporaryDir *results = nullptr;
};

void tst_TestRun::initTestCase()
{
    QVERIFY2(bench.start(), qPrintable(bench.error()));
}

void tst_TestRun::init()
{
    resetTestContext();
    bench.clearTranscripts();
    window = new MainWindow;
    results = new QTemporaryDir;
    TestContext.savePath = results->path();
    setMeter(bench.meterResource());
    window->findChild<QCheckBox *>("enableuart")->setChecked(true);
    window->findChild<QComboBox *>("modeluart")->setEditText(bench.boardPath());
    window->findChild<QLineEdit *>("filename")->setText("TR45K210_DAC");
    window->findChild<QLineEdit *>("tester")->setText("QA");
    log = new LogCapture;
}

void tst_TestRun::cleanup()
{
    if (button("autotest")->text() != kIdle)
        QTest::mouseClick(button("autotest"), Qt::LeftButton);
    delete log;
    delete window;
    delete results;
    QTest::qWait(20); // let the released step timer go
}

void tst_TestRun::setParams(const QStringList &values)
{
    for (int i = 0; i < values.size(); ++i)
        window->findChild<QLineEdit *>(QStringLiteral("Var_%1").arg(i + 1))->setText(values[i]);
}

void tst_TestRun::setMeter(const QString &resource)
{
    window->findChild<QLineEdit *>("addrdmm")->setText(resource);
}

bool tst_TestRun::runToEnd(int timeoutMs)
{
    QTest::mouseClick(button("autotest"), Qt::LeftButton);
    return QTest::qWaitFor([&] { return button("autotest")->text() == kIdle; }, timeoutMs);
}

QByteArray tst_TestRun::resultBytes() const
{
    QFile file(TestContext.resultFilePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList tst_TestRun::resultLines() const
{
    return QString::fromUtf8(resultBytes()).split(QLatin1Char('\n'));
}

void tst_TestRun::automaticRun_data()
{
    QTest::addColumn<int>("testIndex");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("setup");
    QTest::newRow("dac") << 0 << "DAC"
                         << QStringList{"CONF:VOLT:DC", "VOLT:DC:NPLC 10", "VOLT:DC:IMP:AUTO ON",
                                        "VOLT:DC:RANG 10"};
    QTest::newRow("isink") << 1 << "ISINK"
                           << QStringList{"CONF:CURR:DC", "CURR:DC:NPLC 10", "CURR:DC:RANG 0.001"};
}

void tst_TestRun::automaticRun()
{
    QFETCH(int, testIndex);
    QFETCH(QString, value);
    QFETCH(QStringList, setup);

    window->findChild<QComboBox *>("testname")->setCurrentIndex(testIndex);
    const QString testName = window->findChild<QComboBox *>("testname")->currentText();
    setParams({"3", "10", "2", "5"});
    QSignalSpy deinit(window, &MainWindow::DeinitTest);
    QVERIFY(runToEnd());
    QCOMPARE(deinit.count(), 1);

    // Result file, line by line.
    const QStringList lines = resultLines();
    QCOMPARE(lines.size(), 12); // 11 lines, each ended by a newline
    QCOMPARE(lines[0], QStringLiteral("测试项: [%1]").arg(testName));
    QCOMPARE(lines[1], QStringLiteral("测试名: [TR45K210_DAC]"));
    QCOMPARE(lines[2], QStringLiteral("测试人: [QA]"));
    QVERIFY(lines[3].startsWith(QStringLiteral("开始时间: [")) && lines[3].endsWith(']'));
    QVERIFY(kStamp.match(lines[3].mid(7).chopped(1)).hasMatch());
    QCOMPARE(lines[4], QString());
    QCOMPARE(lines[5], QStringLiteral("No.\t%1\tDMM1\tDMM2").arg(value));
    QStringList readings;
    for (int step = 1; step <= 3; ++step) {
        const QStringList cells = lines[5 + step].split('\t');
        QCOMPARE(cells.size(), 4);
        QCOMPARE(cells[0], QString::number(step));
        QCOMPARE(cells[1], QString::number(step));
        for (const QString &cell : cells.mid(2)) {
            QVERIFY2(kReading.match(cell).hasMatch(), qPrintable(cell));
            readings << cell;
        }
    }
    QCOMPARE(lines[9], QString());
    QVERIFY(lines[10].startsWith(QStringLiteral("完成时间: [")));
    QVERIFY(kStamp.match(lines[10].mid(7).chopped(1)).hasMatch());
    QCOMPARE(lines[11], QString());
    QVERIFY(
        TestContext.resultFilePath.startsWith(results->path() + "/[AutoTest][TR45K210_DAC][QA]["));

    // What the instruments saw.
    // Every command goes out as one line ending in a newline (escaped in the transcript).
    QStringList expectedMeter = QStringList{"*IDN?", "*CLS", "*CLS"} + setup;
    for (QString &line : expectedMeter)
        line += "\\n";
    for (int i = 0; i < 6; ++i)
        expectedMeter << "Read?\\n";
    QCOMPARE(bench.meterLines(), expectedMeter);
    QTRY_COMPARE(bench.boardValues(), QList<qint32>({1, 2, 3}));
    QCOMPARE(bench.badFrames(), 0);

    // What the operator sees at the end.
    QCOMPARE(label("testtime")->text(), QStringLiteral("进度：已完成！"));
    QCOMPARE(window->findChild<QProgressBar *>("testprogress")->value(), 100);
    QCOMPARE(label("Status")->text(), QStringLiteral("DMM Measure 2: ") + readings.last());

    // The log, quoted where a line is composed at run time.
    const QStringList logged = log->lines();
    for (const QString &line :
         {debugQuoted("TestThread: Init Test Enviroment"), debugQuoted("TestThread: 1 / 3"),
          debugQuoted(QStringLiteral("TestThread: UART Send %1: 1").arg(value)),
          debugQuoted("TestThread: Delay: 10"), debugQuoted("TestThread: Delay: 5"),
          debugQuoted("TestThread: DMM Measure: " + readings.first()),
          debugQuoted("TestThread: 3 / 3"), debugQuoted("TestThread: Test Finished"),
          QStringLiteral("TestThread: Deinit Test Enviroment")})
        QVERIFY2(logged.contains(line), qPrintable(line));
    QVERIFY(logged.indexOf(debugQuoted("TestThread: Test Finished")) <
            logged.indexOf("UI: Stop AutoTest\r\n"));
    QVERIFY(logged.indexOf("UI: Stop AutoTest\r\n") <
            logged.indexOf("TestThread: Deinit Test Enviroment"));
    QCOMPARE(logged.count(debugQuoted("TestThread: Delay: 5")), 3);
}

void tst_TestRun::singleStepRun()
{
    setParams({"2", "40", "3", "30"});
    QTest::mouseClick(button("singletest"), Qt::LeftButton);
    QCOMPARE(button("autotest")->text(), QStringLiteral("退出单步"));
    // The first send comes by itself.
    QTRY_COMPARE_WITH_TIMEOUT(bench.boardValues(), QList<qint32>({1}), 3000);

    QStringList progressSeen;
    for (int press = 1; press <= 7; ++press) {
        QCOMPARE(button("autotest")->text(), QStringLiteral("退出单步"));
        const int before = log->lines().size();
        QTest::mouseClick(button("singletest"), Qt::LeftButton);
        // Each press advances exactly one state, 100 ms later.
        QVERIFY(QTest::qWaitFor([&] {
            return log->lines().size() > before + 1 || button("autotest")->text() == kIdle;
        }));
        QTest::qWait(150);
        progressSeen << label("testtime")->text();
    }
    QTRY_COMPARE(button("autotest")->text(), kIdle);
    QCOMPARE(log->count("TestThread: Single Step"), 7);
    QCOMPARE(bench.boardValues(), QList<qint32>({1, 2}));
    QCOMPARE(bench.meterLines().count("Read?\\n"), 6);
    // The delays named are the configured ones, even though no timer waits for them.
    QCOMPARE(log->count(debugQuoted("TestThread: Delay: 40")), 2);
    QCOMPARE(log->count(debugQuoted("TestThread: Delay: 30")), 4);
    // After the first step's third reading the progress shows one of two steps done.
    QVERIFY2(progressSeen[2].startsWith(QStringLiteral("进度：50%  ( ")),
             qPrintable(progressSeen[2]));
    QCOMPARE(progressSeen.last(), QStringLiteral("进度：已完成！"));
    const QStringList lines = resultLines();
    QCOMPARE(lines[6].split('\t').size(), 5);
    QCOMPARE(lines[7].split('\t').size(), 5);
    QVERIFY(lines[9].startsWith(QStringLiteral("完成时间: [")));
}

void tst_TestRun::operatorStepCutsTheStartWait()
{
    setParams({"1", "0", "1", "0"});
    QTest::mouseClick(button("singletest"), Qt::LeftButton);
    const qint64 pressed = QDateTime::currentMSecsSinceEpoch();
    QTest::mouseClick(button("singletest"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bench.boardValues(), QList<qint32>({1}), 2000);
    for (const LogCapture::Entry &entry : log->entries()) {
        if (entry.text == debugQuoted("TestThread: UART Send DAC: 1")) {
            QVERIFY2(entry.timeMs - pressed >= 100, "an operator step waits 100 ms");
            QVERIFY2(entry.timeMs - pressed < 400, "the step replaced the 500 ms start wait");
            return;
        }
    }
    QFAIL("no send logged");
}

void tst_TestRun::stopMidStep()
{
    setParams({"3", "10", "3", "150"});
    QTest::mouseClick(button("autotest"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bench.meterLines().count("Read?\\n"), 1, 3000);
    QTest::mouseClick(button("autotest"), Qt::LeftButton);
    QCOMPARE(button("autotest")->text(), kIdle);

    const QByteArray bytes = resultBytes();
    QVERIFY(!bytes.endsWith('\n'));
    const QStringList lines = resultLines();
    QCOMPARE(lines.size(), 7);
    const QStringList cells = lines.last().split('\t');
    QCOMPARE(cells.size(), 3);
    QCOMPARE(cells.mid(0, 2), QStringList({"1", "1"}));
    QVERIFY(!bytes.contains("完成时间"));

    // The timer is dead: nothing more happens.
    const int logged = log->lines().size();
    QTest::qWait(400);
    QCOMPARE(log->lines().size(), logged);
    QCOMPARE(bench.meterLines().count("Read?\\n"), 1);
    QCOMPARE(bench.boardValues(), QList<qint32>({1}));
}

void tst_TestRun::noMultimeterRecordsErr()
{
    setMeter(bench.refusedResource());
    setParams({"2", "0", "2", "0"});
    QVERIFY(runToEnd());
    QVERIFY(log->lines().contains("DMM_34461A: Connect Failed"));
    const QStringList lines = resultLines();
    QCOMPARE(lines[6], QStringLiteral("1\t1\tERR\tERR"));
    QCOMPARE(lines[7], QStringLiteral("2\t2\tERR\tERR"));
    QCOMPARE(label("Status")->text(), QStringLiteral("DMM Measure 2: ERR"));
    QVERIFY(log->lines().contains(debugQuoted("TestThread: DMM Measure: ERR")));
    QTRY_COMPARE(bench.boardValues(), QList<qint32>({1, 2}));
}

QTEST_MAIN(tst_TestRun)
#include "tst_testrun.moc"
