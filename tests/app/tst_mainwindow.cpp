// The window at start-up, test selection, enable boxes, port list, folder choice and the
// live view's shortcut.
#include "app/MainWindow.h"
#include "app/form/MainWindowForm.h"
#include "context/TestContext.h"
#include "tests/support/ContextReset.h"
#include "tests/support/DeviceNode.h"
#include "tests/support/LogCapture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

Q_DECLARE_METATYPE(bool *)

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startUpState();
    void selectingATest();
    void enableBoxes_data();
    void enableBoxes();
    void serialBoxRebuildsThePortList();
    void firstRunPath();
    void ctrlL_followsTheCurrentRun();

private:
    MainWindow *window = nullptr;
    MainWindowForm *ui = nullptr;
    LogCapture *log = nullptr;
};

void tst_MainWindow::init()
{
    resetTestContext();
    log = new LogCapture;
    window = new MainWindow;
    ui = new MainWindowForm;
    // The form's widgets are reached by name, as the tests of a real operator would.
    ui->testname = window->findChild<QComboBox *>("testname");
    ui->testmsg = window->findChild<QTextEdit *>("testmsg");
    ui->showpath = window->findChild<QTextEdit *>("showpath");
    ui->modeluart = window->findChild<QComboBox *>("modeluart");
    ui->refreshuart = window->findChild<QPushButton *>("refreshuart");
    ui->tabWidget = window->findChild<QTabWidget *>("tabWidget");
    ui->enableuart = window->findChild<QCheckBox *>("enableuart");
}

void tst_MainWindow::cleanup()
{
    delete window;
    delete ui;
    delete log;
}

void tst_MainWindow::startUpState()
{
    QCOMPARE(ui->tabWidget->currentIndex(), 1);
    QCOMPARE(ui->testname->currentIndex(), 0);
    QVERIFY(currentTest);
    QCOMPARE(currentTest->metaObject()->className(), "TestDAC");
    QVERIFY(ui->testmsg->toPlainText().startsWith(
        QStringLiteral("1.测试共重复 [*0] 次\n\n2.串口发送4字节DAC数据")));

    const QString desktop =
        QStandardPaths::standardLocations(QStandardPaths::DesktopLocation).value(0);
    QCOMPARE(TestContext.savePath, desktop);
    QCOMPARE(ui->showpath->toPlainText(), desktop);
}

// A known index replaces the test object; an unknown one keeps it.
void tst_MainWindow::selectingATest()
{
    QPointer<QThread> dac = currentTest;
    log->clear();
    ui->testname->setCurrentIndex(1);
    QVERIFY(dac.isNull());
    QCOMPARE(currentTest->metaObject()->className(), "TestISINK");
    QCOMPARE(TestContext.testIndex, 1);
    QCOMPARE(log->lines(), QStringList({"UI IndexChange\r\n", "TestThread: Created"}));
    QVERIFY(ui->testmsg->toPlainText().contains(QStringLiteral("数字万用表采集电流 [*2] 次")));

    ui->testname->setCurrentIndex(0);
    QCOMPARE(currentTest->metaObject()->className(), "TestDAC");
    QVERIFY(ui->testmsg->toPlainText().contains(QStringLiteral("数字万用表采集电压 [*2] 次")));

    // An index the window does not know keeps the test it has.
    QPointer<QThread> before = currentTest;
    log->clear();
    QVERIFY(QMetaObject::invokeMethod(window, "on_testname_currentIndexChanged", Q_ARG(int, 2)));
    QCOMPARE(currentTest, before.data());
    QCOMPARE(TestContext.testIndex, 2);
    QCOMPARE(log->lines(),
             QStringList({"UI IndexChange\r\n", "***UI ERROR: Test Index Unknow***"}));
}

void tst_MainWindow::enableBoxes_data()
{
    QTest::addColumn<bool *>("flag");
    QTest::newRow("dmm") << &TestContext.dmm.enabled;
    QTest::newRow("pwr") << &TestContext.pwr.enabled;
    QTest::newRow("osc") << &TestContext.osc.enabled;
}

// The box "enable<row>" switches the list "model<row>" and the field "addr<row>".
void tst_MainWindow::enableBoxes()
{
    QFETCH(bool *, flag);
    const QString row = QString::fromLatin1(QTest::currentDataTag());
    auto *check = window->findChild<QCheckBox *>("enable" + row);
    auto *model = window->findChild<QComboBox *>("model" + row);
    auto *field = window->findChild<QLineEdit *>("addr" + row);

    log->clear();
    check->setChecked(true);
    QVERIFY(*flag && model->isEnabled() && field->isEnabled());
    check->setTristate(true);
    check->setCheckState(Qt::PartiallyChecked); // any state but unticked enables
    QVERIFY(*flag && model->isEnabled() && field->isEnabled());
    check->setCheckState(Qt::Unchecked);
    QVERIFY(!*flag && !model->isEnabled() && !field->isEnabled());
    QVERIFY(log->lines().isEmpty());
}

void tst_MainWindow::serialBoxRebuildsThePortList()
{
    QStringList names;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        names << port.portName();

    ui->modeluart->addItem(QStringLiteral("stale entry"));
    ui->enableuart->setChecked(true);
    QVERIFY(TestContext.uart.enabled);
    QVERIFY(ui->modeluart->isEnabled() && ui->refreshuart->isEnabled());
    QStringList shown;
    for (int i = 0; i < ui->modeluart->count(); ++i)
        shown << ui->modeluart->itemText(i);
    QCOMPARE(shown, names);
    QCOMPARE(ui->modeluart->currentIndex(), names.isEmpty() ? -1 : 0);

    ui->modeluart->addItem(QStringLiteral("stale entry"));
    ui->enableuart->setChecked(false);
    QVERIFY(!TestContext.uart.enabled);
    QCOMPARE(ui->modeluart->count(), names.size()); // rebuilt on unticking too
    QVERIFY(!ui->modeluart->isEnabled() && !ui->refreshuart->isEnabled());
}

// An operator's first start on a server install: no desktop folder, a port
// typed over the list's entry, a folder chosen (a cancelled chooser keeps
// it); the next start has both.
void tst_MainWindow::firstRunPath()
{
    const QString config = QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    QTemporaryDir home, chosen, nodeFolder;
    QString why;
    const QString device = privateNullDevice(nodeFolder.path(), &why);
    if (device.isEmpty())
        QSKIP(qPrintable(why));
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", savedHome);
        QFile::remove(config);
    });
    QFile::remove(config);
    resetTestContext();
    delete window;
    window = new MainWindow;
    QCOMPARE(window->findChild<QLabel *>("Status")->text(),
             QStringLiteral("保存路径不存在：%1/Desktop").arg(home.path()));

    // Clicking into the list selects its entry: what is typed replaces it.
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    auto *port = window->findChild<QComboBox *>("modeluart");
    window->findChild<QCheckBox *>("enableuart")->setChecked(true);
    port->setEditText(QStringLiteral("ttyS0"));
    QTest::mouseClick(port->lineEdit(), Qt::LeftButton);
    QCoreApplication::processEvents();
    QTest::keyClicks(port->lineEdit(), device);
    QCOMPARE(port->currentText(), device);
    QCOMPARE(port->toolTip(), device);

    // The chooser opens at the result folder (the home folder while there is none).
    QStringList openedAt;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            openedAt << dialog->directory().absolutePath() + ' ' + dialog->windowTitle();
            dialog->setDirectory(chosen.path());
            static_cast<QDialog *>(dialog)->done(openedAt.size() == 1 ? QDialog::Accepted
                                                                      : QDialog::Rejected);
        }
    });
    poll.start(10);
    QPushButton *savepath = window->findChild<QPushButton *>("savepath");
    QTest::mouseClick(savepath, Qt::LeftButton);
    QTest::mouseClick(savepath, Qt::LeftButton); // cancelled
    poll.stop();
    QCOMPARE(openedAt,
             QStringList({home.path() + " 选择保存路径", chosen.path() + " 选择保存路径"}));
    QCOMPARE(window->findChild<QLabel *>("Status")->text(), QStringLiteral("Status"));

    // A run logs the port's whole path; the next start takes folder and port.
    window->findChild<QLineEdit *>("addrdmm")->setText("TCPIP0::127.0.0.1::1::SOCKET");
    QPushButton *start = window->findChild<QPushButton *>("autotest");
    QTest::mouseClick(start, Qt::LeftButton);
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(log->lines().contains("\"UI: COM Port [" + device + "]\""));
    cleanup();
    init();
    QCOMPARE(ui->showpath->toPlainText(), chosen.path());
    ui->enableuart->setChecked(true);
    QCOMPARE(ui->modeluart->currentText(), device);
}

// Ctrl+L: without a run only a log line; with one, benchtest-report --follow on
// the run's file, started from the program folder as a process of its own.
void tst_MainWindow::ctrlL_followsTheCurrentRun()
{
    // A stand-in for the report program that writes down its arguments.
    QTemporaryDir folder;
    const QString program = QCoreApplication::applicationDirPath() + "/benchtest-report";
    const QString arguments = folder.filePath("arguments");
    QFile script(program);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(
        "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$ARGS.part\" && mv \"$ARGS.part\" \"$ARGS\"\n");
    script.close();
    const auto removeScript = qScopeGuard([&] { script.remove(); });
    QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
    qputenv("ARGS", QFile::encodeName(arguments));
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));

    QTest::keyClick(window, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(log->count(QStringLiteral("UI: No run to follow\r\n")), 1);
    QTest::qWait(300);
    QVERIFY(!QFile::exists(arguments));

    TestContext.resultFilePath = folder.filePath("[AutoTest][项目 A][QA][240101 090000].txt");
    QTest::keyClick(window, Qt::Key_L, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(arguments), 5000);
    QFile written(arguments);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(written.readAll()),
             "--follow\n" + TestContext.resultFilePath + "\n");
    QCOMPARE(log->count(debugQuoted("UI: Live view of [" + TestContext.resultFilePath + "]")), 1);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
