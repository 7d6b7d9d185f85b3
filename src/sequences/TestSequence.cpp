#include "TestSequence.h"

#include "DMM_34461A.h"
#include "FileOperation.h"
#include "MainWindowForm.h"
#include "StepTimer.h"
#include "TestContext.h"
#include "TestParams.h"
#include "UART.h"

#include <QDateTime>
#include <QDebug>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

#include <limits>

namespace {

const int kFirstSendMs = 500;
const int kNextStepMs = 100;
const int kSingleStepMs = 100;

void logQuoted(const QString &line)
{
    qDebug() << line;
}

} // namespace

TestSequence::TestSequence(const TestKind &kind, MainWindowForm *ui)
    : QThread(nullptr), kind(kind), ui(ui)
{}

TestSequence::~TestSequence()
{
    releaseRun();
}

int TestSequence::timerInterval(qint64 ms)
{
    if (ms < 0)
        return 0;
    return int(qMin<qint64>(ms, std::numeric_limits<int>::max()));
}

QString TestSequence::readingCell(const QString &reply)
{
    const QString cell = reply.simplified();
    return cell.isEmpty() ? QStringLiteral("ERR") : cell;
}

qint64 TestSequence::parameter(const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return ok ? value : 0;
}

qint64 TestSequence::runParameter(int index)
{
    const QString &text = TestContext.vars[index];
    bool ok = false;
    text.toLongLong(&ok, 10);
    if (!ok)
        logQuoted(QStringLiteral("TestThread: Var_%1 [%2] is not a number, 0 is taken")
                      .arg(index + 1)
                      .arg(text));
    return parameter(text);
}

void TestSequence::attachToWindow(QObject *window)
{
    qDebug() << "TestThread: Created";
    const bool connected = connect(window, SIGNAL(SingleTest()), this, SLOT(SingleStep())) &&
                           connect(window, SIGNAL(InitTest()), this, SLOT(InitEnviroment())) &&
                           connect(window, SIGNAL(DeinitTest()), this, SLOT(DeinitEnviroment()));
    Q_ASSERT_X(connected, "TestSequence", "the window lacks the run signals");
    Q_UNUSED(connected);
    ui->testmsg->setPlainText(kind.helpText);
}

void TestSequence::initEnvironment()
{
    logQuoted(QStringLiteral("TestThread: Init Test Enviroment"));
    // A start without a stop in between must not leak the previous run.
    releaseRun();

    fileOp = new FileOperation;
    uartDriver = new UART;
    dmmDriver = new DMM_34461A;
    params = new TestParams;

    dmmDriver->Connect();
    uartDriver->Open(TestContext.uart);
    for (const QString &command : kind.meterSetup)
        dmmDriver->Write(command);

    ui->testtime->setText(QStringLiteral("进度：--"));
    ui->testprogress->setValue(0);

    params->repeatCount = runParameter(0);
    params->settleMs = runParameter(1);
    params->sampleCount = runParameter(2);
    params->sampleIntervalMs = runParameter(3);
    if (params->sampleCount > kMaxReadingsPerStep) {
        // The heading alone would outgrow the memory: one column per reading.
        logQuoted(QStringLiteral("TestThread: Var_3 [%1] is too many readings, %2 are taken")
                      .arg(params->sampleCount)
                      .arg(kMaxReadingsPerStep));
        params->sampleCount = kMaxReadingsPerStep;
    }

    fileOp->CreateResultFile();
    QString heading = QStringLiteral("No.\t") + kind.valueName;
    for (qint64 i = 1; i <= params->sampleCount; ++i)
        heading += QStringLiteral("\tDMM%1").arg(i);
    append(heading, true);

    stepTimer = new StepTimer;
    connect(stepTimer, &StepTimer::timeout, this, &TestSequence::sendValue);
    stepTimer->start(kFirstSendMs);
    TestContext.startTime = QDateTime::currentMSecsSinceEpoch() + kFirstSendMs;
}

void TestSequence::deinitEnvironment()
{
    qDebug() << "TestThread: Deinit Test Enviroment";
    releaseRun();
}

void TestSequence::releaseRun()
{
    delete params;
    params = nullptr;
    if (stepTimer) {
        stepTimer->stop();
        stepTimer->disconnect(this);
        // The stop may come from inside this timer's own timeout.
        stepTimer->deleteLater();
        stepTimer = nullptr;
    }
    if (dmmDriver) {
        dmmDriver->Close();
        delete dmmDriver;
        dmmDriver = nullptr;
    }
    if (uartDriver) {
        uartDriver->Close(TestContext.uart);
        delete uartDriver;
        uartDriver = nullptr;
    }
    delete fileOp;
    fileOp = nullptr;
}

void TestSequence::singleStep()
{
    qDebug() << "TestThread: Single Step";
    if (stepTimer)
        stepTimer->start(kSingleStepMs);
}

void TestSequence::sendValue()
{
    if (params->repeatCount == 0) {
        // Ends the run through the window's own stop path; nothing of the run
        // may be touched after this call.
        emit ui->autotest->clicked(false);
        return;
    }

    const qint64 k = params->step + 1;
    logQuoted(QStringLiteral("TestThread: %1 / %2").arg(k).arg(params->repeatCount));
    logQuoted(QStringLiteral("TestThread: UART Send %1: %2").arg(kind.valueName).arg(k));
    ui->Status->setText(QStringLiteral("UART Send %1: %2").arg(kind.valueName).arg(k));
    uartDriver->SendValue(TestContext.uart, qint32(k));
    append(QStringLiteral("%1\t%2").arg(k).arg(k), false);

    logQuoted(QStringLiteral("TestThread: Delay: %1").arg(params->settleMs));
    continueWith(&TestSequence::takeReading, params->settleMs);
}

void TestSequence::takeReading()
{
    params->sample += 1;
    const QString reading = readingCell(dmmDriver->Query(QStringLiteral("Read?")));
    append(QStringLiteral("\t") + reading, false);
    logQuoted(QStringLiteral("TestThread: DMM Measure: ") + reading);
    ui->Status->setText(QStringLiteral("DMM Measure %1: ").arg(params->sample) + reading);

    if (params->sample < params->sampleCount) {
        logQuoted(QStringLiteral("TestThread: Delay: %1").arg(params->sampleIntervalMs));
        if (TestContext.autoRun)
            stepTimer->start(timerInterval(params->sampleIntervalMs));
        return;
    }

    params->step += 1;
    params->sample = 0;
    append(QString(), true);
    if (params->step >= params->repeatCount) {
        finish();
        return;
    }
    calcProgress();
    continueWith(&TestSequence::sendValue, kNextStepMs);
}

void TestSequence::finish()
{
    logQuoted(QStringLiteral("TestThread: Test Finished"));
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyMMdd hhmmss"));
    append(QStringLiteral("\n完成时间: [") + stamp + QStringLiteral("]"), true);
    ui->testtime->setText(QStringLiteral("进度：已完成！"));
    ui->testprogress->setValue(100);
    // The window's stop path releases this run before the emit returns.
    emit ui->autotest->clicked(false);
}

void TestSequence::calcProgress()
{
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - TestContext.startTime;
    QString text;
    int percent = 0;
    fileOp->ProgressText(text, percent, elapsed, params->repeatCount, params->step);
    ui->testprogress->setValue(percent);
    ui->testtime->setText(text);
}

// Moves the timer over to the next handler and, in automatic mode, arms it.
void TestSequence::continueWith(void (TestSequence::*next)(), qint64 waitMs)
{
    stepTimer->disconnect(this);
    connect(stepTimer, &StepTimer::timeout, this, next);
    if (TestContext.autoRun)
        stepTimer->start(timerInterval(waitMs));
}

void TestSequence::append(const QString &text, bool lineEnd)
{
    fileOp->AppendText(TestContext.resultFilePath, text, lineEnd);
}
