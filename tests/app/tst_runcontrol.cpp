// Start, stop and single step through the autotest caption; copying the form
// into the test context; finding the chosen serial port.
#include "app/MainWindow.h"
#include "context/TestContext.h"
#include "settings/SerialPortLookup.h"
#include "tests/support/ContextReset.h"
#include "tests/support/DeviceNode.h"
#include "tests/support/LogCapture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class tst_RunControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startThenStop();
    void singleStepMode();
    void refreshCopiesTheForm();
    void emptyNamesAndAnUntickedPort();
    void missingPortIsLoggedOnceAndCleared();
    void portLookup();

private:
    QPushButton *button(const char *name) { return window->findChild<QPushButton *>(name); }
    QLineEdit *field(const QString &name) { return window->findChild<QLineEdit *>(name); }
    void start() { QTest::mouseClick(button("autotest"), Qt::LeftButton); }
    void chooseSerial(const QString &text);

    // A device that is no serial port, of the test's own; empty where none can be made.
    QTemporaryDir nodeFolder;
    QString nullDevice;
    QString noNullDevice;
    MainWindow *window = nullptr;
    LogCapture *log = nullptr;
    QTemporaryDir *results = nullptr;
};

void tst_RunControl::initTestCase()
{
    nullDevice = privateNullDevice(nodeFolder.path(), &noNullDevice);
}

void tst_RunControl::init()
{
    resetTestContext();
    window = new MainWindow;
    results = new QTemporaryDir;
    TestContext.savePath = results->path();
    // A meter that refuses at once keeps the runs started here short.
    field("addrdmm")->setText(QStringLiteral("TCPIP0::127.0.0.1::1::SOCKET"));
    log = new LogCapture;
}

void tst_RunControl::cleanup()
{
    if (button("autotest")->text() != QStringLiteral("自动测试"))
        start(); // stop a run the test left going
    delete log;
    delete window;
    delete results;
}

void tst_RunControl::chooseSerial(const QString &text)
{
    window->findChild<QCheckBox *>("enableuart")->setChecked(true);
    window->findChild<QComboBox *>("modeluart")->setEditText(text);
}

void tst_RunControl::startThenStop()
{
    QSignalSpy init(window, &MainWindow::InitTest);
    QSignalSpy deinit(window, &MainWindow::DeinitTest);

    start();
    QCOMPARE(button("autotest")->text(), QStringLiteral("正在测试"));
    QVERIFY(!button("savepath")->isEnabled());
    QVERIFY(!window->findChild<QComboBox *>("testname")->isEnabled());
    QVERIFY(!button("singletest")->isEnabled());
    QVERIFY(button("autotest")->isEnabled());
    QVERIFY(TestContext.autoRun);
    QCOMPARE(init.count(), 1);
    // The start's log lines in order are tst_testrun's.

    log->clear();
    start();
    QCOMPARE(button("autotest")->text(), QStringLiteral("自动测试"));
    QVERIFY(button("savepath")->isEnabled());
    QVERIFY(window->findChild<QComboBox *>("testname")->isEnabled());
    QVERIFY(button("singletest")->isEnabled());
    QCOMPARE(deinit.count(), 1);
    // The run's own thread may still be logging its meter connect; of the
    // window's lines, stopping comes first.
    const QStringList windowLines = log->lines().filter(QRegularExpression("^\"?UI"));
    QCOMPARE(windowLines.value(0), QStringLiteral("UI: Stop AutoTest\r\n"));
    QVERIFY(TestContext.autoRun); // stopping leaves the mode alone
}

void tst_RunControl::singleStepMode()
{
    QSignalSpy init(window, &MainWindow::InitTest);
    QSignalSpy deinit(window, &MainWindow::DeinitTest);
    QSignalSpy single(window, &MainWindow::SingleTest);
    QList<bool> autoRunAtInit; // the test's set-up always sees the automatic mode
    const QMetaObject::Connection watch =
        connect(window, &MainWindow::InitTest, this, [&] { autoRunAtInit << TestContext.autoRun; });

    QTest::mouseClick(button("singletest"), Qt::LeftButton);
    QCOMPARE(init.count(), 1);
    QCOMPARE(single.count(), 0);
    QCOMPARE(button("autotest")->text(), QStringLiteral("退出单步"));
    QVERIFY(button("singletest")->isEnabled());
    QVERIFY(!button("savepath")->isEnabled());
    QVERIFY(!window->findChild<QComboBox *>("testname")->isEnabled());
    QVERIFY(!TestContext.autoRun);

    QTest::mouseClick(button("singletest"), Qt::LeftButton);
    QTest::mouseClick(button("singletest"), Qt::LeftButton);
    QCOMPARE(single.count(), 2);
    QCOMPARE(init.count(), 1);
    QCOMPARE(button("singletest")->text(), QStringLiteral("单步"));

    start();
    QCOMPARE(deinit.count(), 1);
    QCOMPARE(button("autotest")->text(), QStringLiteral("自动测试"));
    QVERIFY(button("savepath")->isEnabled() && button("singletest")->isEnabled());
    QVERIFY(!TestContext.autoRun);
    start();
    disconnect(watch);
    QCOMPARE(autoRunAtInit, QList<bool>({true, true}));
}

// What no end-to-end run shows: the test's name and item and the meter's address reach the
// file's head and the wire in tst_testrun.
void tst_RunControl::refreshCopiesTheForm()
{
    for (int i = 1; i <= 12; ++i)
        field(QStringLiteral("Var_%1").arg(i))->setText(QStringLiteral("v%1").arg(i));
    field("tester")->setText(QStringLiteral("  "));
    field("addrpwr")->setText(QStringLiteral("GPIB0::7::INSTR"));

    start();
    for (int i = 0; i < 12; ++i)
        QCOMPARE(TestContext.vars[i], QStringLiteral("v%1").arg(i + 1));
    QCOMPARE(TestContext.tester, QStringLiteral("  ")); // blanks count as filled in
    QCOMPARE(TestContext.dmm.model, QStringLiteral("Keysight 34410A/34461A"));
    QCOMPARE(TestContext.pwr.model, QStringLiteral("Agilent 66309D"));
    QCOMPARE(TestContext.pwr.address, QStringLiteral("GPIB0::7::INSTR"));
    QCOMPARE(TestContext.osc.model, QStringLiteral("ZLG ZDS1104"));
    QCOMPARE(TestContext.osc.address, window->findChild<QLineEdit *>("addrosc")->text());
}

// Empty names get placeholders; a port named with its box unticked is not looked up.
void tst_RunControl::emptyNamesAndAnUntickedPort()
{
    window->findChild<QComboBox *>("modeluart")->setEditText(QStringLiteral("/no/such/port"));
    start();
    QCOMPARE(TestContext.testItem, QStringLiteral("未填写测试项"));
    QCOMPARE(TestContext.tester, QStringLiteral("未填写测试人"));
    QCOMPARE(TestContext.uart.portName, QStringLiteral("/no/such/port"));
    QVERIFY(TestContext.uart.port.portName().isEmpty());
    QCOMPARE(log->count("UI ERROR: COM Port NOT Found!"), 0);
}

void tst_RunControl::missingPortIsLoggedOnceAndCleared()
{
    if (nullDevice.isEmpty())
        QSKIP(qPrintable(noNullDevice));
    QSignalSpy init(window, &MainWindow::InitTest);
    chooseSerial(nullDevice);
    start();
    start();
    QCOMPARE(TestContext.uart.port.portName(), nullDevice);

    chooseSerial(QStringLiteral("ttyBENCH-unplugged"));
    start();
    QCOMPARE(log->count("UI ERROR: COM Port NOT Found!"), 1);
    QCOMPARE(init.count(), 2);
    // The earlier board must not receive this run's values.
    QVERIFY(TestContext.uart.port.portName().isEmpty());
    QVERIFY(TestContext.uart.portInfo.isNull());
}

void tst_RunControl::portLookup()
{
    // A name not found and a device path are missingPortIsLoggedOnceAndCleared's.
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    QCOMPARE(findSerialPort(QStringLiteral("/dev/no-such-port"), ports).kind,
             SerialPortMatch::NotFound);
    QCOMPARE(findSerialPort(QString(), ports).kind, SerialPortMatch::NotFound);

    // An enumerated port is found by name and through a link to it (a
    // /dev/serial/by-id name); this needs a serial port on the machine.
    if (!ports.isEmpty()) {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("by-id-adapter"));
        QVERIFY(QFile::link(ports.first().systemLocation(), link));
        QCOMPARE(findSerialPort(ports.first().portName(), ports).kind, SerialPortMatch::Enumerated);
        QCOMPARE(findSerialPort(link, ports).info.portName(), ports.first().portName());
    }
}

QTEST_MAIN(tst_RunControl)
#include "tst_runcontrol.moc"
