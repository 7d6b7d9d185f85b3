#include "engine/RunEngine.h"

#include "Version.h"

#include "context/TestContext.h"
#include "engine/StepTimer.h"
#include "instruments/DMM_34461A.h"
#include "results/FileOperation.h"
#include "serial/UART.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>

#include <limits>

Q_LOGGING_CATEGORY(lcRun, "benchtest.run")

namespace {

// Run lines that carry a value go to the log as quoted strings.
void logQuoted(const QString &line)
{
    qCDebug(lcRun) << line;
}

} // namespace

RunEngine::RunEngine(RunSetup setup, QObject *parent) : QObject(parent), setup(std::move(setup))
{
    qRegisterMetaType<RunOutcome>();
    qRegisterMetaType<RunProgress>();
}

RunEngine::~RunEngine()
{
    releaseRun();
}

int RunEngine::timerInterval(qint64 ms)
{
    if (ms < 0)
        return 0;
    return int(qMin<qint64>(ms, std::numeric_limits<int>::max()));
}

QString RunEngine::readingCell(const QString &reply)
{
    const QString cell = reply.simplified();
    return cell.isEmpty() ? QStringLiteral("ERR") : cell;
}

qint64 RunEngine::parameter(const QString &text, bool *isNumber)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (isNumber)
        *isNumber = ok;
    return ok ? value : 0;
}

qint64 RunEngine::runParameter(int index) const
{
    const QString &text = setup.parameters[size_t(index)];
    bool isNumber = false;
    const qint64 value = parameter(text, &isNumber);
    if (!isNumber)
        logQuoted(QStringLiteral("TestThread: Var_%1 [%2] is not a number, 0 is taken")
                      .arg(index + 1)
                      .arg(text));
    return value;
}

void RunEngine::start()
{
    // A start without a stop in between must not leak the previous run.
    releaseRun();
    tally = RunOutcome();
    endMs = -1;
    estimateMs = -1;

    // The drivers and the writer take their addresses and names from the record.
    TestContext.dmm.address = setup.meterAddress;
    TestContext.savePath = setup.folder;
    TestContext.testName = setup.testName;
    TestContext.testItem = setup.testItem;
    TestContext.tester = setup.tester;

    fileOp = std::make_unique<FileOperation>(setup.clock.localTime);
    uartDriver = std::make_unique<UART>();
    dmmDriver = std::make_unique<DMM_34461A>();
    params = TestParams();

    tally.meterAnswered = dmmDriver->Connect();
    tally.boardConnected = setup.serial && uartDriver->Open(*setup.serial) == 0;
    if (setup.failWithoutBoard && !tally.boardConnected) {
        // Refused before the result file exists: nothing of this run was measured.
        const SerialConfig *serial = setup.serial;
        end(RunOutcome::Failed,
            serial
                ? QStringLiteral("cannot open serial port %1: %2")
                      .arg(serial->portName.isEmpty() ? serial->port.portName() : serial->portName,
                           serial->port.errorString())
                : QStringLiteral("no serial port given"));
        return;
    }
    for (const QString &command : setup.kind->meterSetup)
        dmmDriver->Write(command);

    params.repeatCount = runParameter(0);
    params.settleMs = runParameter(1);
    params.sampleCount = runParameter(2);
    params.sampleIntervalMs = runParameter(3);
    if (params.sampleCount > kMaxReadingsPerStep) {
        // The heading alone would outgrow the memory: one column per reading.
        logQuoted(QStringLiteral("TestThread: Var_3 [%1] is too many readings, %2 are taken")
                      .arg(params.sampleCount)
                      .arg(kMaxReadingsPerStep));
        params.sampleCount = kMaxReadingsPerStep;
    }
    tally.stepsPlanned = params.repeatCount;

    fileOp->CreateResultFile();
    tally.resultFile = TestContext.resultFilePath;
    QString heading = QStringLiteral("No.\t") + setup.kind->valueName;
    for (qint64 i = 1; i <= params.sampleCount; ++i)
        heading += QStringLiteral("\tDMM%1").arg(i);
    append(heading, true);
    recordStart();

    running = true;
    stepTimer = new StepTimer;
    stepTimer->setParent(this); // gone with the engine if its deferred delete never runs
    connect(stepTimer, &StepTimer::timeout, this, &RunEngine::sendValue);
    stepTimer->start(kFirstSendMs);
    startMs = setup.clock.epochMs() + kFirstSendMs;
    TestContext.startTime = startMs;
}

void RunEngine::stop()
{
    if (running)
        end(RunOutcome::Stopped);
    releaseRun();
}

void RunEngine::singleStep()
{
    if (stepTimer)
        stepTimer->start(kSingleStepMs);
}

void RunEngine::end(RunOutcome::Status status, const QString &failure)
{
    if (running)
        endMs = setup.clock.epochMs();
    running = false;
    if (stepTimer)
        stepTimer->stop();
    tally.status = status;
    tally.failure = failure;
    recordEnd();
    emit runEnded(tally);
}

// What the record says of the run from its start: the software, the test,
// the parameters as typed and as taken, the meter and its set-up, the port.
void RunEngine::recordStart()
{
    QJsonObject &fields = record.fields;
    fields = QJsonObject();
    fields.insert(QStringLiteral("software"), QStringLiteral("benchtest " BENCHTEST_VERSION));
    fields.insert(QStringLiteral("test"), setup.kind->valueName);
    fields.insert(QStringLiteral("testName"), setup.testName);
    fields.insert(QStringLiteral("testItem"), setup.testItem);
    fields.insert(QStringLiteral("tester"), setup.tester);
    QJsonArray typed;
    for (const QString &text : setup.parameters)
        typed.append(text);
    fields.insert(QStringLiteral("parametersTyped"), typed);
    fields.insert(QStringLiteral("parametersUsed"),
                  QJsonObject{{QStringLiteral("steps"), params.repeatCount},
                              {QStringLiteral("settleMs"), params.settleMs},
                              {QStringLiteral("readingsPerStep"), params.sampleCount},
                              {QStringLiteral("readingIntervalMs"), params.sampleIntervalMs}});
    const QString identity = dmmDriver->identityReply().trimmed();
    fields.insert(
        QStringLiteral("meter"),
        QJsonObject{
            {QStringLiteral("resource"), setup.meterAddress},
            {QStringLiteral("identity"), identity.isEmpty() ? QJsonValue() : QJsonValue(identity)},
            {QStringLiteral("setup"), QJsonArray::fromStringList(setup.kind->meterSetup)}});
    fields.insert(QStringLiteral("serialDevice"),
                  setup.serial ? QJsonValue(setup.serial->port.portName()) : QJsonValue());
    fields.insert(QStringLiteral("resultFile"), tally.resultFile);
    fields.insert(QStringLiteral("outcome"),
                  QJsonObject{{QStringLiteral("status"), QStringLiteral("running")}});
    record.setStarted(setup.clock.localTime());
    (void)record.write(tally.resultFile, fileOp->recoveryFile());
}

// The record's last word: how the run ended, with its counts.
void RunEngine::recordEnd()
{
    if (tally.resultFile.isEmpty())
        return; // refused before it had a file
    static const char *const statusNames[] = {"finished", "stopped", "failed"};
    record.fields.insert(
        QStringLiteral("outcome"),
        QJsonObject{{QStringLiteral("status"), QLatin1String(statusNames[tally.status])},
                    {QStringLiteral("clean"), tally.isClean()},
                    {QStringLiteral("summary"), tally.summary()},
                    {QStringLiteral("stepsPlanned"), tally.stepsPlanned},
                    {QStringLiteral("stepsDone"), tally.stepsDone},
                    {QStringLiteral("readings"), tally.readings},
                    {QStringLiteral("errCells"), tally.errCells},
                    {QStringLiteral("valuesNotSent"), tally.framesNotSent},
                    {QStringLiteral("piecesNotWritten"), tally.piecesNotWritten}});
    record.fields.insert(QStringLiteral("recoveryFile"), tally.recoveryFile.isEmpty()
                                                             ? QJsonValue()
                                                             : QJsonValue(tally.recoveryFile));
    record.setEnded(setup.clock.localTime());
    // Once the run's file was given up, its folder takes nothing more.
    if (tally.recoveryFile.isEmpty())
        (void)record.write(tally.resultFile);
    else
        (void)record.write(tally.recoveryFile);
}

void RunEngine::releaseRun()
{
    if (stepTimer) {
        stepTimer->stop();
        stepTimer->disconnect(this);
        // The stop may come from inside this timer's own timeout.
        stepTimer->deleteLater();
        stepTimer = nullptr;
    }
    if (dmmDriver) {
        dmmDriver->Close();
        dmmDriver.reset();
    }
    if (uartDriver) {
        if (setup.serial)
            uartDriver->Close(*setup.serial);
        uartDriver.reset();
    }
    fileOp.reset();
}

void RunEngine::sendValue()
{
    if (!running)
        return;
    if (params.repeatCount == 0) {
        end(RunOutcome::Finished);
        return;
    }

    const qint64 k = params.step + 1;
    logQuoted(QStringLiteral("TestThread: %1 / %2").arg(k).arg(params.repeatCount));
    logQuoted(QStringLiteral("TestThread: UART Send %1: %2").arg(setup.kind->valueName).arg(k));
    // Without a port the values go nowhere by choice, not by fault.
    if (setup.serial && !uartDriver->SendValue(*setup.serial, qint32(k))) {
        tally.framesNotSent += 1;
        emit faultNoticed(QStringLiteral("Value %1 not sent to the board").arg(k));
    }
    append(QStringLiteral("%1\t%2").arg(k).arg(k), false);
    emit valueSent(k, qint32(k));
    if (!running)
        return; // stopped by a listener

    logQuoted(QStringLiteral("TestThread: Delay: %1").arg(params.settleMs));
    continueWith(&RunEngine::takeReading, params.settleMs);
}

void RunEngine::takeReading()
{
    if (!running)
        return;
    params.sample += 1;
    const QString reply = dmmDriver->Query(QStringLiteral("Read?"));
    const QString cell = readingCell(reply);
    tally.readings += 1;
    if (reply.simplified().isEmpty())
        tally.errCells += 1;
    append(QStringLiteral("\t") + cell, false);
    logQuoted(QStringLiteral("TestThread: DMM Measure: ") + cell);
    emit readingTaken(params.step + 1, params.sample, cell);
    if (!running)
        return;

    if (params.sample < params.sampleCount) {
        logQuoted(QStringLiteral("TestThread: Delay: %1").arg(params.sampleIntervalMs));
        if (setup.autoRun())
            stepTimer->start(timerInterval(params.sampleIntervalMs));
        return;
    }

    params.step += 1;
    params.sample = 0;
    tally.stepsDone = params.step;
    append(QString(), true);
    emit stepFinished(params.step);
    if (!running)
        return; // stopped by a listener
    if (params.step >= params.repeatCount) {
        finish();
        return;
    }
    reportProgress();
    if (!running)
        return;
    continueWith(&RunEngine::sendValue, kNextStepMs);
}

void RunEngine::reportProgress()
{
    if (!running)
        return;
    RunProgress progress;
    progress.done = params.step;
    progress.total = params.repeatCount;
    const qint64 now = setup.clock.epochMs();
    progress.elapsedMs = now - startMs;
    fileOp->ProgressText(progress.text, progress.percent, progress.elapsedMs, progress.total,
                         progress.done);
    // The elapsed time holds `done` steps but only `done - 1` waits between
    // them; each step still to come brings its wait along.
    if (progress.done > 0 && progress.total >= progress.done) {
        __extension__ using Wide = __int128;
        const Wide period = Wide(qMax<qint64>(progress.elapsedMs, 0)) + kNextStepMs;
        estimateMs =
            qint64(qMin<Wide>(Wide(progress.total - progress.done) * period / progress.done,
                              std::numeric_limits<qint64>::max()));
        estimatedAtMs = now;
    }
    progress.remainingMs = estimateMs;
    emit progressChanged(progress);
}

RunProgress RunEngine::currentProgress() const
{
    RunProgress progress;
    progress.done = params.step;
    progress.total = params.repeatCount;
    if (!running && endMs < 0)
        return progress; // not started, or refused before its first step
    const qint64 now = running ? setup.clock.epochMs() : endMs;
    progress.elapsedMs = qMax<qint64>(now - startMs, 0);
    progress.finished = !running && tally.status == RunOutcome::Finished;
    if (progress.finished) {
        progress.percent = 100;
        progress.remainingMs = 0;
        return progress;
    }
    if (progress.total > 0) {
        __extension__ using Wide = __int128;
        progress.percent = int(qBound<Wide>(0, Wide(progress.done) * 100 / progress.total, 100));
    }
    if (estimateMs >= 0)
        progress.remainingMs = qMax<qint64>(estimateMs - qMax<qint64>(now - estimatedAtMs, 0), 0);
    return progress;
}

void RunEngine::finish()
{
    logQuoted(QStringLiteral("TestThread: Test Finished"));
    const QString stamp = setup.clock.localTime().toString(QStringLiteral("yyMMdd hhmmss"));
    append(QStringLiteral("\n完成时间: [") + stamp + QStringLiteral("]"), true);
    end(RunOutcome::Finished);
}

// Moves the timer over to the next handler and, when the run advances by
// itself, arms it.
void RunEngine::continueWith(void (RunEngine::*next)(), qint64 waitMs)
{
    stepTimer->disconnect(this);
    connect(stepTimer, &StepTimer::timeout, this, next);
    if (setup.autoRun())
        stepTimer->start(timerInterval(waitMs));
}

void RunEngine::append(const QString &text, bool lineEnd)
{
    const qint64 lostBefore = fileOp->piecesNotWritten();
    const bool divertedBefore = !fileOp->recoveryFile().isEmpty();
    fileOp->AppendText(TestContext.resultFilePath, text, lineEnd);
    tally.piecesNotWritten = fileOp->piecesNotWritten();
    tally.recoveryFile = fileOp->recoveryFile();
    if (!divertedBefore && !tally.recoveryFile.isEmpty())
        emit faultNoticed(
            QStringLiteral("Result file lost, the rest goes to %1").arg(tally.recoveryFile));
    if (tally.piecesNotWritten > lostBefore)
        emit faultNoticed(
            QStringLiteral("Result not written: %1 pieces lost").arg(tally.piecesNotWritten));
}
