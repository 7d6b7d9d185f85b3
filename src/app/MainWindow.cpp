#include "app/MainWindow.h"

#include "app/WindowIcon.h"
#include "app/form/MainWindowForm.h"
#include "context/TestContext.h"
#include "record/UnfinishedRuns.h"
#include "sequences/TestFactory.h"
#include "settings/ConfigLocation.h"
#include "settings/SerialPortLookup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QTextEdit>
#include <QThread>

QThread *currentTest = nullptr;
QSettings *configSettings = nullptr;

Q_LOGGING_CATEGORY(lcUi, "benchtest.ui")

namespace {

// The keys of the last run's choices; [defaultAddr] holds the addresses.
const char *const kLastFolderKey = "lastRun/resultFolder";
const char *const kLastPortKey = "lastRun/serialPort";

// Selects a list's typed entry whenever the list takes the focus, so that
// what the operator types replaces the entry the list put there. The focus
// comes to the list, which hands it to its edit without an event a filter
// on the edit would see; the mouse press that brings it places the cursor
// afterwards, hence the deferred selection.
class SelectAllOnFocus : public QObject
{
public:
    explicit SelectAllOnFocus(QComboBox *list) : QObject(list), list(list)
    {
        list->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == list && event->type() == QEvent::FocusIn && list->lineEdit())
            QMetaObject::invokeMethod(list->lineEdit(), &QLineEdit::selectAll,
                                      Qt::QueuedConnection);
        return false;
    }

private:
    QComboBox *list;
};

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new MainWindowForm), runDisplay(ui)
{
    ui->SetupForm(this);
    // Lets the operator type a device path (by-id link, pseudo-terminal) the list cannot show.
    ui->modeluart->setEditable(true);
    new SelectAllOnFocus(ui->modeluart);
    // The list is narrow; the whole device path shows on hovering it.
    connect(ui->modeluart, &QComboBox::currentTextChanged, this, &MainWindow::ShowPortPath);
    setWindowIcon(windowIconForInstall());
    setFixedSize(720, 520);
    // __DATE__ is "Mmm dd yyyy" with a blank-padded day, as the title wants it.
    setWindowTitle(windowTitle() + QStringLiteral("  [ %1 ]").arg(QLatin1String(__DATE__)));

    on_testname_currentIndexChanged(ui->testname->currentIndex());

    TestContext.savePath =
        QStandardPaths::standardLocations(QStandardPaths::DesktopLocation).value(0);
    ui->showpath->setText(TestContext.savePath);

    // Only one window exists in the program; a second one (tests) takes the store over.
    delete configSettings;
    configSettings = nullptr;
    const QString configFile = programConfigFile();
    // A FIFO, a device or a folder in its place is neither read (a FIFO
    // would block) nor replaced by the store: the form's defaults stand.
    const QString configProblem = configFileProblem(configFile);
    if (!configProblem.isEmpty()) {
        const QString message =
            QStringLiteral("UI ERROR: Config File [%1] %2").arg(configFile, configProblem);
        qCDebug(lcUi) << message;
        ui->Status->setText(message);
    } else {
        // The user's folder may not be there yet; the store writes into it.
        QDir().mkpath(QFileInfo(configFile).absolutePath());
        configSettings = new QSettings(configFile, QSettings::IniFormat);
        // The form's defaults stand in for a file that cannot be read or parsed;
        // the operator must learn why the stored addresses are not there.
        if (configSettings->status() != QSettings::NoError)
            qCDebug(lcUi) << QStringLiteral("UI ERROR: Config File [%1] %2")
                                 .arg(configSettings->fileName(),
                                      configSettings->status() == QSettings::AccessError
                                          ? QStringLiteral("Not Readable")
                                          : QStringLiteral("Corrupt"));
    }
    ReadConfigFile();
    for (QLineEdit *field : {ui->addrdmm, ui->addrpwr, ui->addrosc})
        connect(field, &QLineEdit::editingFinished, this, &MainWindow::SaveConfigFile);
    ReadLastRun();
    CheckResultFolder();
    NameUnfinishedRuns();
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this), &QShortcut::activated, this,
            &MainWindow::OpenLiveView);
}

MainWindow::~MainWindow()
{
    // The test object's run goes with the window that shows it.
    delete currentTest;
    currentTest = nullptr;
    delete ui;
}

void MainWindow::on_enabledmm_stateChanged(int index)
{
    TestContext.dmm.enabled = index != Qt::Unchecked;
    ui->modeldmm->setEnabled(TestContext.dmm.enabled);
    ui->addrdmm->setEnabled(TestContext.dmm.enabled);
}

void MainWindow::on_enablepwr_stateChanged(int index)
{
    TestContext.pwr.enabled = index != Qt::Unchecked;
    ui->modelpwr->setEnabled(TestContext.pwr.enabled);
    ui->addrpwr->setEnabled(TestContext.pwr.enabled);
}

void MainWindow::on_enableosc_stateChanged(int index)
{
    TestContext.osc.enabled = index != Qt::Unchecked;
    ui->modelosc->setEnabled(TestContext.osc.enabled);
    ui->addrosc->setEnabled(TestContext.osc.enabled);
}

void MainWindow::on_enableuart_stateChanged(int index)
{
    TestContext.uart.enabled = index != Qt::Unchecked;
    on_refreshuart_clicked();
    ui->modeluart->setEnabled(TestContext.uart.enabled);
    ui->refreshuart->setEnabled(TestContext.uart.enabled);
}

void MainWindow::on_refreshuart_clicked()
{
    ui->modeluart->clear();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        ui->modeluart->addItem(port.portName(), port.systemLocation());
    if (!lastPort.isEmpty())
        ui->modeluart->setCurrentText(lastPort);
    else if (ui->modeluart->count() > 0)
        ui->modeluart->setCurrentIndex(0);
    ShowPortPath(ui->modeluart->currentText());
}

void MainWindow::ShowPortPath(const QString &text)
{
    const int listed = ui->modeluart->findText(text);
    ui->modeluart->setToolTip(listed >= 0 ? ui->modeluart->itemData(listed).toString() : text);
}

void MainWindow::OpenLiveView()
{
    const QString file = TestContext.resultFilePath;
    if (file.isEmpty()) {
        qCDebug(lcUi, "UI: No run to follow\r\n");
        return;
    }
    const QString program =
        QCoreApplication::applicationDirPath() + QStringLiteral("/benchtest-report");
    if (QProcess::startDetached(program, {QStringLiteral("--follow"), file}))
        qCDebug(lcUi) << QStringLiteral("UI: Live view of [%1]").arg(file);
    else
        qCDebug(lcUi) << QStringLiteral("UI ERROR: Live view not started [%1]").arg(program);
}

void MainWindow::on_testname_currentIndexChanged(int index)
{
    qCDebug(lcUi, "UI IndexChange\r\n");
    TestContext.testIndex = index;
    if (!isKnownTest(index)) {
        qCDebug(lcUi) << "***UI ERROR: Test Index Unknow***";
        return;
    }
    delete currentTest;
    currentTest = nullptr;
    currentTest = createTest(index, &runDisplay, this);
}

void MainWindow::on_savepath_clicked()
{
    qCDebug(lcUi, "UI FilePath\r\n");
    const QString start =
        QFileInfo(TestContext.savePath).isDir() ? TestContext.savePath : QDir::homePath();
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("选择保存路径", "folder chooser title"), start, QFileDialog::ShowDirsOnly);
    // A cancelled chooser keeps the folder: an empty one would send the next
    // run's file to the file-system root.
    if (!folder.isEmpty()) {
        TestContext.savePath = folder;
        SaveLastRun(kLastFolderKey, folder);
    }
    ui->showpath->setText(TestContext.savePath);
    CheckResultFolder();
    NameUnfinishedRuns();
}

// A run that was interrupted in the chosen folder can be taken up again: the
// operator learns of it where the window says what is wrong.
void MainWindow::NameUnfinishedRuns()
{
    if (!QFileInfo(TestContext.savePath).isDir())
        return;
    const QStringList unfinished = unfinishedRuns(TestContext.savePath);
    if (unfinished.isEmpty())
        return;
    const QString command = resumeCommand(unfinished.constFirst());
    qCDebug(lcUi) << QStringLiteral("UI: Unfinished Run [%1] %2 more; resume with: %3")
                         .arg(unfinished.constFirst())
                         .arg(unfinished.size() - 1)
                         .arg(command);
    ui->Status->setText(tr("未完成的测试：%1；继续：%2")
                            .arg(QFileInfo(unfinished.constFirst()).fileName(), command));
}

void MainWindow::ReadLastRun()
{
    if (!configSettings)
        return;
    const QString folder = configSettings->value(QLatin1String(kLastFolderKey)).toString();
    if (!folder.isEmpty()) {
        TestContext.savePath = folder;
        ui->showpath->setText(folder);
    }
    lastPort = configSettings->value(QLatin1String(kLastPortKey)).toString();
}

void MainWindow::SaveLastRun(const char *key, const QString &value)
{
    if (!configSettings)
        return;
    configSettings->setValue(QLatin1String(key), value);
}

void MainWindow::CheckResultFolder()
{
    if (QFileInfo(TestContext.savePath).isDir()) {
        if (folderMissingShown)
            ui->Status->setText(tr("Status")); // the form's own text
        folderMissingShown = false;
        return;
    }
    qCDebug(lcUi) << QStringLiteral("UI ERROR: Save Path [%1] Not Found").arg(TestContext.savePath);
    ui->Status->setText(tr("保存路径不存在：%1").arg(TestContext.savePath));
    folderMissingShown = true;
}

// The caption follows the state; it is never read back, so a translated
// caption cannot turn Start into Stop.
void MainWindow::enterState(RunState next)
{
    runState = next;
    switch (next) {
    case RunState::Idle:
        ui->autotest->setText(tr("自动测试"));
        break;
    case RunState::AutoRun:
        ui->autotest->setText(tr("正在测试"));
        break;
    case RunState::SingleStep:
        ui->autotest->setText(tr("退出单步"));
        break;
    }
    const bool idle = next == RunState::Idle;
    ui->savepath->setEnabled(idle);
    ui->testname->setEnabled(idle);
    ui->singletest->setEnabled(next != RunState::AutoRun);
}

void MainWindow::on_autotest_clicked()
{
    if (runState == RunState::Idle) {
        enterState(RunState::AutoRun);
        qCDebug(lcUi, "UI: Start AutoTest\r\n");
        CheckResultFolder();
        RefreshValue();
        TestContext.autoRun = true;
        emit InitTest();
    } else {
        enterState(RunState::Idle);
        qCDebug(lcUi, "UI: Stop AutoTest\r\n");
        emit DeinitTest();
    }
}

void MainWindow::on_singletest_clicked()
{
    if (runState == RunState::SingleStep) {
        emit SingleTest();
        return;
    }
    on_autotest_clicked();
    // The run may have ended already inside InitTest; then it stays idle.
    if (runState != RunState::AutoRun)
        return;
    TestContext.autoRun = false;
    enterState(RunState::SingleStep);
}

void MainWindow::RefreshValue()
{
    qCDebug(lcUi, "UI: Refresh Value\r\n");
    for (int i = 1; i <= 12; ++i) {
        const auto *field = findChild<QLineEdit *>(QStringLiteral("Var_%1").arg(i));
        TestContext.vars[i - 1] = field ? field->text() : QString();
    }
    // The kind's own title heads the result file, whatever language the list shows.
    const TestKind *kind = testKindAt(ui->testname->currentIndex());
    TestContext.testName = kind ? kind->title : ui->testname->currentText();
    TestContext.testItem = ui->filename->text();
    if (TestContext.testItem.isEmpty())
        TestContext.testItem = QStringLiteral("未填写测试项");
    TestContext.tester = ui->tester->text();
    if (TestContext.tester.isEmpty())
        TestContext.tester = QStringLiteral("未填写测试人");

    TestContext.dmm.model = ui->modeldmm->currentText();
    TestContext.dmm.address = ui->addrdmm->text();
    TestContext.pwr.model = ui->modelpwr->currentText();
    TestContext.pwr.address = ui->addrpwr->text();
    TestContext.osc.model = ui->modelosc->currentText();
    TestContext.osc.address = ui->addrosc->text();
    TestContext.uart.portName = ui->modeluart->currentText();
    if (!TestContext.uart.enabled)
        return;

    SerialConfig &uart = TestContext.uart;
    const SerialPortMatch match = findSerialPort(uart.portName, QSerialPortInfo::availablePorts());
    assignSerialPort(match, uart.port, uart.portInfo);
    if (match.kind == SerialPortMatch::NotFound) {
        qCDebug(lcUi) << "UI ERROR: COM Port NOT Found!";
        qCDebug(lcUi) << QStringLiteral(
            "UI: no serial port assigned, values of this run are not sent");
        return;
    }
    qCDebug(lcUi) << QStringLiteral("UI: COM Port [%1]")
                         .arg(match.kind == SerialPortMatch::Enumerated
                                  ? match.info.systemLocation()
                                  : match.devicePath);
    lastPort = uart.portName;
    SaveLastRun(kLastPortKey, lastPort);
}

void MainWindow::ReadConfigFile()
{
    if (!configSettings)
        return; // no usable file: the form's defaults stand
    const std::pair<const char *, QLineEdit *> entries[] = {
        {"defaultAddr/DMM", ui->addrdmm},
        {"defaultAddr/PWR", ui->addrpwr},
        {"defaultAddr/OSC", ui->addrosc},
    };
    for (const auto &[key, field] : entries) {
        const QString value = configSettings->value(QLatin1String(key)).toString();
        if (value.isEmpty())
            configSettings->setValue(QLatin1String(key), field->text());
        else
            field->setText(value);
    }
}

void MainWindow::SaveConfigFile()
{
    if (!configSettings)
        return;
    configSettings->setValue(QStringLiteral("defaultAddr/DMM"), ui->addrdmm->text());
    configSettings->setValue(QStringLiteral("defaultAddr/PWR"), ui->addrpwr->text());
    configSettings->setValue(QStringLiteral("defaultAddr/OSC"), ui->addrosc->text());
}
