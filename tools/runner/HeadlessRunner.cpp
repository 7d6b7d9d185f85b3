#include "HeadlessRunner.h"

#include "MainWindow.h"
#include "ResultFileName.h"
#include "RunnerOptions.h"
#include "SerialPortLookup.h"
#include "TestContext.h"
#include "TestSequence.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextEdit>
#include <QThread>

#include <algorithm>

namespace {

const QString kIdleCaption = QStringLiteral("自动测试");
const QString kCompletionLine = QStringLiteral("完成时间: [");

// The window's status line while it sends step k to the board.
const QRegularExpression kSendStatus(QStringLiteral("^UART Send \\S+: (-?\\d+)$"));

template <typename Widget> Widget *control(const QObject *window, const QString &name)
{
    Widget *widget = window->findChild<Widget *>(name);
    Q_ASSERT_X(widget, "HeadlessRunner", "the window lacks a control the runner drives");
    return widget;
}

} // namespace

HeadlessRunner::HeadlessRunner(QObject *parent)
    : QObject(parent), window(new MainWindow),
      startButton(control<QPushButton>(window, QStringLiteral("autotest")))
{
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            &HeadlessRunner::observe);
}

HeadlessRunner::~HeadlessRunner()
{
    stop();
    delete window;
}

bool HeadlessRunner::start(const RunnerOptions &options, QString *error)
{
    if (state != Outcome::NotStarted) {
        *error = QStringLiteral("a runner drives one run only");
        return false;
    }
    if (!fillForm(options, error))
        return false;

    waitForUnusedSecond();
    current = RunProgress();
    current.total = TestSequence::parameter(control<QLineEdit>(window, "Var_1")->text());
    startButton->click();
    state = Outcome::Running;
    resultFile = TestContext.resultFilePath;
    meterAnswered = TestContext.dmm.connected;
    current.percent = control<QProgressBar>(window, "testprogress")->value();
    current.windowText = control<QLabel>(window, "testtime")->text();

    // The window runs on without its board; an unattended run must not.
    QSerialPort &port = TestContext.uart.port;
    if (!options.serialPort.isEmpty() && !port.isOpen()) {
        *error = QStringLiteral("cannot open serial port %1: %2")
                     .arg(options.serialPort, port.errorString());
        stop();
        state = Outcome::FailedToStart;
        return false;
    }
    return true;
}

void HeadlessRunner::stop()
{
    if (state != Outcome::Running)
        return;
    if (startButton->text() != kIdleCaption) {
        stopRequested = true;
        startButton->click();
    }
    observe();
}

QString HeadlessRunner::meterAddress() const
{
    return control<QLineEdit>(window, "addrdmm")->text();
}

bool HeadlessRunner::fillForm(const RunnerOptions &options, QString *error)
{
    if (!selectTest(options, error) || !chooseOutputDir(options.outputDir, error))
        return false;
    if (options.serialPort.isEmpty())
        control<QCheckBox>(window, "enableuart")->setChecked(false);
    else if (!chooseSerialPort(options.serialPort, error))
        return false;

    control<QCheckBox>(window, "enabledmm")->setChecked(true);
    if (!options.dmmResource.isEmpty())
        control<QLineEdit>(window, "addrdmm")->setText(options.dmmResource);
    for (int i = 1; i <= 12; ++i) {
        if (const std::optional<QString> &value = options.vars[size_t(i - 1)])
            control<QLineEdit>(window, QStringLiteral("Var_%1").arg(i))->setText(*value);
    }
    if (options.item)
        control<QLineEdit>(window, "filename")->setText(*options.item);
    if (options.tester)
        control<QLineEdit>(window, "tester")->setText(*options.tester);
    return true;
}

bool HeadlessRunner::selectTest(const RunnerOptions &options, QString *error)
{
    const QString kind =
        options.test == RunnerOptions::Test::Dac ? QStringLiteral("DAC") : QStringLiteral("ISINK");
    auto *list = control<QComboBox>(window, "testname");
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i).startsWith(kind + QStringLiteral(" - "))) {
            list->setCurrentIndex(i);
            return true;
        }
    }
    *error = QStringLiteral("the window offers no %1 test").arg(kind);
    return false;
}

// The same lookup the window makes at Start, done first so that a missing
// board refuses the run before any file is written.
bool HeadlessRunner::chooseSerialPort(const QString &port, QString *error)
{
    if (findSerialPort(port, QSerialPortInfo::availablePorts()).kind == SerialPortMatch::NotFound) {
        QStringList names;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            names << info.portName();
        *error = QStringLiteral("serial port %1 not found (ports present: %2)")
                     .arg(port, names.isEmpty() ? QStringLiteral("none") : names.join(", "));
        return false;
    }
    // Ticking the box rebuilds the port list; the typed name goes in after.
    control<QCheckBox>(window, "enableuart")->setChecked(true);
    control<QComboBox>(window, "modeluart")->setEditText(port);
    return true;
}

// The folder button opens a modal chooser; the runner sets what it would set.
bool HeadlessRunner::chooseOutputDir(const QString &dir, QString *error)
{
    const QFileInfo folder(dir);
    if (!folder.isDir()) {
        *error = QStringLiteral("result folder %1 does not exist").arg(dir);
        return false;
    }
    if (!folder.isWritable()) {
        *error = QStringLiteral("result folder %1 is not writable").arg(dir);
        return false;
    }
    TestContext.savePath = folder.absoluteFilePath();
    control<QTextEdit>(window, "showpath")->setText(TestContext.savePath);
    return true;
}

// The window names the file after the second its run starts in, and appends
// when that name exists already: a run started within the same second as an
// earlier one with the same item and tester would write into that run's file.
// Waits for a second no result file in the folder is named after.
void HeadlessRunner::waitForUnusedSecond() const
{
    const QStringList names = QDir(TestContext.savePath).entryList(QDir::Files);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 2000) {
        const QString suffix =
            QStringLiteral("][%1].txt").arg(resultTimeStamp(QDateTime::currentDateTime()));
        if (std::none_of(names.cbegin(), names.cend(), [&suffix](const QString &name) {
                return name.startsWith(QLatin1String("[AutoTest][")) && name.endsWith(suffix);
            }))
            return;
        QThread::msleep(20);
    }
}

void HeadlessRunner::observe()
{
    if (state != Outcome::Running)
        return;
    if (startButton->text() == kIdleCaption) {
        endRun();
        return;
    }

    RunProgress seen = current;
    seen.percent = control<QProgressBar>(window, "testprogress")->value();
    seen.windowText = control<QLabel>(window, "testtime")->text();
    const QRegularExpressionMatch sending =
        kSendStatus.match(control<QLabel>(window, "Status")->text());
    if (sending.hasMatch())
        sendingStep = sending.captured(1).toLongLong();
    // The display changes only after the last reading of the step being
    // measured; when it shows the same text again, the next send tells.
    const bool displayChanged =
        seen.percent != current.percent || seen.windowText != current.windowText;
    const qint64 completed = displayChanged ? sendingStep : sendingStep - 1;
    while (seen.done < completed) {
        seen.done += 1;
        current = seen;
        emit stepCompleted(current);
    }
    if (seen != current) {
        current = seen;
        emit progressChanged(current);
    }
}

void HeadlessRunner::endRun()
{
    if (resultFileComplete()) {
        state = Outcome::Finished;
        while (current.done < current.total) {
            current.done += 1;
            if (current.done == current.total) {
                current.percent = control<QProgressBar>(window, "testprogress")->value();
                current.windowText = control<QLabel>(window, "testtime")->text();
            }
            emit stepCompleted(current);
        }
    } else {
        state = stopRequested ? Outcome::Stopped : Outcome::Incomplete;
    }
    emit ended();
}

bool HeadlessRunner::resultFileComplete() const
{
    QFile file(resultFile);
    if (resultFile.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (!line->isEmpty())
            return line->startsWith(kCompletionLine);
    }
    return false;
}
