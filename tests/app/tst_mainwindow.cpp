// The window at start-up, test selection, enable boxes, port list and folder choice.
#include "ContextReset.h"
#include "LogCapture.h"
#include "MainWindow.h"
#include "MainWindowForm.h"
#include "TestContext.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void titleCarriesTheBuildDate();
    void sizeIsFixed();
    void startUpState();
    void selectingATestReplacesTheObject();
    void unknownIndexKeepsTheTest();
    void enableBoxes_data();
    void enableBoxes();
    void serialBoxRebuildsThePortList();
    void cancelledFolderChooserKeepsTheFolder();
    void firstRunPath();

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
    ui->autotest = window->findChild<QPushButton *>("autotest");
    ui->testname = window->findChild<QComboBox *>("testname");
    ui->testmsg = window->findChild<QTextEdit *>("testmsg");
    ui->showpath = window->findChild<QTextEdit *>("showpath");
    ui->modeluart = window->findChild<QComboBox *>("modeluart");
    ui->refreshuart = window->findChild<QPushButton *>("refreshuart");
    ui->savepath = window->findChild<QPushButton *>("savepath");
    ui->tabWidget = window->findChild<QTabWidget *>("tabWidget");
    ui->enableuart = window->findChild<QCheckBox *>("enableuart");
}

void tst_MainWindow::cleanup()
{
    delete window;
    delete ui;
    delete log;
}

void tst_MainWindow::titleCarriesTheBuildDate()
{
    const QRegularExpression pattern(QStringLiteral(
        "^自动化测试工具 by Ravensel  \\[ ([A-Z][a-z]{2}) ([ 1-3][0-9]) (\\d{4}) \\]$"));
    const QRegularExpressionMatch match = pattern.match(window->windowTitle());
    QVERIFY2(match.hasMatch(), qPrintable(window->windowTitle()));
    const QString date =
        match.captured(1) + ' ' + match.captured(2).trimmed() + ' ' + match.captured(3);
    QVERIFY2(QLocale::c().toDate(date, QStringLiteral("MMM d yyyy")).isValid(), qPrintable(date));
}

void tst_MainWindow::sizeIsFixed()
{
    QCOMPARE(window->size(), QSize(720, 520));
    QCOMPARE(window->minimumSize(), QSize(720, 520));
    QCOMPARE(window->maximumSize(), QSize(720, 520));
    window->resize(800, 600);
    QCOMPARE(window->size(), QSize(720, 520));
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

    QCOMPARE(TestContext.testIndex, 0);
    QVERIFY(!TestContext.autoRun && TestContext.resultFilePath.isEmpty());
    QVERIFY(!TestContext.dmm.enabled && !TestContext.uart.enabled);
}

void tst_MainWindow::selectingATestReplacesTheObject()
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
}

void tst_MainWindow::unknownIndexKeepsTheTest()
{
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
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("address");
    QTest::newRow("dmm") << "enabledmm"
                         << "modeldmm"
                         << "addrdmm";
    QTest::newRow("pwr") << "enablepwr"
                         << "modelpwr"
                         << "addrpwr";
    QTest::newRow("osc") << "enableosc"
                         << "modelosc"
                         << "addrosc";
}

void tst_MainWindow::enableBoxes()
{
    QFETCH(QString, box);
    QFETCH(QString, list);
    QFETCH(QString, address);
    auto *check = window->findChild<QCheckBox *>(box);
    auto *model = window->findChild<QComboBox *>(list);
    auto *field = window->findChild<QLineEdit *>(address);
    const bool *flag = box == "enabledmm"   ? &TestContext.dmm.enabled
                       : box == "enablepwr" ? &TestContext.pwr.enabled
                                            : &TestContext.osc.enabled;

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

void tst_MainWindow::cancelledFolderChooserKeepsTheFolder()
{
    QTemporaryDir dir;
    TestContext.savePath = dir.path();
    log->clear();
    // The chooser is modal: close it from the loop it runs, once it is there.
    bool dialogSeen = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            dialogSeen = dialog->windowTitle() == QStringLiteral("选择保存路径");
            dialog->close();
        }
    });
    poll.start(10);
    QTest::mouseClick(ui->savepath, Qt::LeftButton);
    poll.stop();
    QVERIFY(dialogSeen);
    QCOMPARE(log->lines().value(0), QStringLiteral("UI FilePath\r\n"));
    QCOMPARE(TestContext.savePath, dir.path());
    QCOMPARE(ui->showpath->toPlainText(), dir.path());
}

// An operator's first start on a server install: no desktop folder, a port
// typed over the list's entry, a folder chosen; the next start has both.
void tst_MainWindow::firstRunPath()
{
    delete window;
    window = nullptr;
    const QString config = QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    QFile::remove(config);
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", savedHome);
        qunsetenv("XDG_CONFIG_HOME");
        QFile::remove(config);
    });
    resetTestContext();
    log->clear();
    auto open = [this] {
        delete window;
        window = new MainWindow;
        ui->modeluart = window->findChild<QComboBox *>("modeluart");
        ui->enableuart = window->findChild<QCheckBox *>("enableuart");
        ui->savepath = window->findChild<QPushButton *>("savepath");
    };
    open();
    const QString desktop = home.path() + QStringLiteral("/Desktop");
    auto *status = window->findChild<QLabel *>("Status");
    QCOMPARE(status->text(), QStringLiteral("保存路径不存在：") + desktop);
    QVERIFY(log->lines().contains(
        QStringLiteral("\"UI ERROR: Save Path [%1] Not Found\"").arg(desktop)));

    // Clicking into the list selects its entry: what is typed replaces it.
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    ui->enableuart->setChecked(true);
    ui->modeluart->setEditText(QStringLiteral("ttyS0"));
    QTest::mouseClick(ui->modeluart->lineEdit(), Qt::LeftButton);
    QCoreApplication::processEvents();
    QTest::keyClicks(ui->modeluart->lineEdit(), QStringLiteral("/dev/null"));
    QCOMPARE(ui->modeluart->currentText(), QStringLiteral("/dev/null"));
    QCOMPARE(ui->modeluart->toolTip(), QStringLiteral("/dev/null"));

    // The chooser opens at the result folder (the home folder while there is none).
    QTemporaryDir chosen;
    QStringList openedAt;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            openedAt << dialog->directory().absolutePath();
            dialog->setDirectory(chosen.path());
            static_cast<QDialog *>(dialog)->accept(); // as the Choose button does
        }
    });
    poll.start(10);
    QTest::mouseClick(ui->savepath, Qt::LeftButton);
    QTest::mouseClick(ui->savepath, Qt::LeftButton);
    poll.stop();
    QCOMPARE(openedAt, QStringList({home.path(), chosen.path()}));
    QCOMPARE(TestContext.savePath, chosen.path());
    QCOMPARE(status->text(), QStringLiteral("Status"));

    // A run logs the port's whole path; the next start takes folder and port.
    window->findChild<QLineEdit *>("addrdmm")->setText("TCPIP0::127.0.0.1::1::SOCKET");
    QPushButton *start = window->findChild<QPushButton *>("autotest");
    QTest::mouseClick(start, Qt::LeftButton);
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(log->lines().contains(QStringLiteral("\"UI: COM Port [/dev/null]\"")));
    resetTestContext();
    open();
    QCOMPARE(TestContext.savePath, chosen.path());
    QCOMPARE(window->findChild<QTextEdit *>("showpath")->toPlainText(), chosen.path());
    ui->enableuart->setChecked(true);
    QCOMPARE(ui->modeluart->currentText(), QStringLiteral("/dev/null"));
    QSettings stored(config, QSettings::IniFormat);
    QCOMPARE(stored.childGroups(), QStringList({"defaultAddr", "lastRun"}));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
