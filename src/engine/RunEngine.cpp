#include "engine/RunEngine.h"

#include "Version.h"

#include "engine/ErrorQueue.h"
#include "engine/StepTimer.h"
#include "results/FileOperation.h"
#include "results/ProgressFigures.h"
#include "results/RecordFile.h"

#include <QDebug>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcRun, "benchtest.run")

namespace {

// Run lines that carry a value go to the log as quoted strings.
void logQuoted(const QString &line)
{
    qCDebug(lcRun) << line;
}

// SCPI's overload marker; NAN is sent as 9.91E37.
constexpr double kOverload = 9.9e37;

} // namespace

RunEngine::RunEngine(RunSetup setup, QObject *parent) : QObject(parent), setup(std::move(setup))
{
    qRegisterMetaType<RunOutcome>();
    qRegisterMetaType<RunProgress>();
    qRegisterMetaType<RunRecord>();
    ports = this->setup.ports.meter ? this->setup.ports : RunPorts::real(this->setup.serial);
    if (!ports.fileSystem)
        ports.fileSystem = &FileSystemCalls::system();
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

bool RunEngine::isMeasurement(const QString &cell)
{
    bool isNumber = false;
    const double value = cell.toDouble(&isNumber);
    return isNumber && std::isfinite(value) && std::fabs(value) < kOverload;
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
    recordFile.reset();
    recoveryRecordFile.reset();
    tally = RunOutcome();
    tally.runId = RunRecord::newRunId();
    stopRequested = false;
    {
        const QMutexLocker locker(&progressMutex);
        progressState = ProgressState();
    }
    pending.clear();
    rowCells.clear();
    startedAtMs = setup.clock.monotonicMs();

    fileOp = std::make_unique<FileOperation>(setup.clock.localTime, *ports.fileSystem);
    if (!setup.recoveryFolder.isEmpty())
        fileOp->setRecoveryFolder(setup.recoveryFolder);
    {
        const QMutexLocker locker(&meterMutex);
        meter = ports.meter();
    }
    board = ports.board ? ports.board() : nullptr;
    params = TestParams();
    rowSupplyCell.clear();

    // A refusal comes before the result file exists: nothing of this run was measured.
    QString failure;
    if (setup.checkInstruments) {
        checkDeadline = QDeadlineTimer(RunSetup::kCheckBudgetMs);
        meter->limitExchanges(checkSliceMs());
    }
    tally.meterAnswered = meter->connect(setup.meterAddress);
    if (setup.checkInstruments && !checkMeterIdentity(&failure)) {
        end(RunOutcome::Failed, failure);
        return;
    }
    QString boardError = QStringLiteral("no serial port given");
    tally.boardConnected = board && board->open(&boardError);
    if (setup.failWithoutBoard && !tally.boardConnected) {
        end(RunOutcome::Failed, boardError);
        return;
    }
    const RunResume &resume = setup.resume;
    if (!resume.resultFile.isEmpty() && !resume.meterIdentity.isEmpty() &&
        meter->identity().trimmed() != resume.meterIdentity) {
        // Readings of another meter would be spliced into the file.
        end(RunOutcome::Failed,
            QStringLiteral("the meter at %1 is not the one the run began with: it answers "
                           "\"%2\", the run's answered \"%3\"")
                .arg(setup.meterAddress, meter->identity().trimmed(), resume.meterIdentity));
        return;
    }
    if (!sendMeterSetup(&failure) || (setup.checkInstruments && !checkMeterSetup(&failure))) {
        end(RunOutcome::Failed, failure);
        return;
    }
    if (setup.checkInstruments)
        meter->limitExchanges(0);
    if (setup.supply && !powerBoard(&failure)) {
        end(RunOutcome::Failed, failure);
        return;
    }

    // A plan's sweep says how many steps; Var_1 says it otherwise.
    params.repeatCount = setup.sweep ? setup.sweep->count() : runParameter(0);
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

    if (!resume.resultFile.isEmpty()) {
        QString reason;
        if (!fileOp->ContinueResultFile(resume.resultFile, resume.keepBytes, &reason)) {
            end(RunOutcome::Failed,
                QStringLiteral("cannot continue %1: %2").arg(resume.resultFile, reason));
            return;
        }
        tally.resultFile = resume.resultFile;
        params.step = resume.firstStep - 1;
        tally.stepsDone = params.step;
        tally.readings = resume.readings;
        tally.errCells = resume.errCells;
        tally.notMeasurements = resume.notMeasurements;
        logQuoted(QStringLiteral("TestThread: Resume at %1 / %2")
                      .arg(resume.firstStep)
                      .arg(params.repeatCount));
        if (!recordResumed())
            return;
    } else {
        // The run's own copies of the names: TestContext is the window's.
        tally.resultFile =
            fileOp->CreateResultFile(setup.folder, setup.testName, setup.testItem, setup.tester);
        QString heading = QStringLiteral("No.\t") + setup.kind->valueName;
        for (qint64 i = 1; i <= params.sampleCount; ++i)
            heading += QStringLiteral("\tDMM%1").arg(i);
        if (readsSupplyCurrent())
            heading += QStringLiteral("\tPWR");
        append(heading, true);
        recordStart();
    }

    running = true;
    stepTimer = new StepTimer;
    stepTimer->setParent(this); // gone with the engine if its deferred delete never runs
    connect(stepTimer, &StepTimer::timeout, this, &RunEngine::sendValue);
    stepTimer->start(setup.firstSendMs);
    {
        const QMutexLocker locker(&progressMutex);
        progressState.running = true;
        progressState.total = params.repeatCount;
        progressState.done = params.step;
        progressState.doneBefore = params.step;
        progressState.startMs = setup.clock.monotonicMs() + setup.firstSendMs;
    }
    emit runStarted(record);
}

qint32 RunEngine::codeOf(qint64 step) const
{
    return setup.sweep ? setup.sweep->codeAt(step - 1) : qint32(step);
}

const QStringList &RunEngine::meterCommands() const
{
    return setup.meterSetup.isEmpty() ? setup.kind->meterSetup : setup.meterSetup;
}

int RunEngine::checkSliceMs() const
{
    if (!setup.checkInstruments)
        return 0;
    return int(std::clamp<qint64>(checkDeadline.remainingTime(), 1, RunSetup::kCheckExchangeMs));
}

bool RunEngine::checkTimeLeft() const
{
    return !setup.checkInstruments || !checkDeadline.hasExpired();
}

bool RunEngine::checkMeterIdentity(QString *failure)
{
    const QString &address = setup.meterAddress;
    if (!tally.meterAnswered) {
        if (setup.meterOptional)
            return true;
        const QString why = meter->connectFailure();
        *failure = QStringLiteral("the multimeter at %1 %2")
                       .arg(address, why.isEmpty() ? QStringLiteral("does not answer") : why);
        return false;
    }
    const QString identity = meter->identity().trimmed();
    if (setup.expectIdn.isEmpty() || QRegularExpression(setup.expectIdn).match(identity).hasMatch())
        return true;
    *failure = QStringLiteral("the multimeter at %1 answers \"%2\", not the expected identity '%3'")
                   .arg(address, identity, setup.expectIdn);
    return false;
}

// With checks, each command within their budget: a meter that went away is
// opened again for each, and must not hold the refusal up.
bool RunEngine::sendMeterSetup(QString *failure)
{
    for (const QString &command : meterCommands()) {
        if (setup.checkInstruments) {
            if (!checkTimeLeft()) {
                *failure = QStringLiteral("the multimeter at %1 does not finish its checks in time")
                               .arg(setup.meterAddress);
                return false;
            }
            meter->limitExchanges(checkSliceMs());
        }
        meter->write(command);
    }
    return true;
}

// The set-up as sent: the meter's error queue then holds what it refused.
bool RunEngine::checkMeterSetup(QString *failure)
{
    if (!tally.meterAnswered)
        return true; // optional, and not there: nothing to ask
    const QString problem = ErrorQueue::problem(
        [this] {
            meter->limitExchanges(checkSliceMs());
            return meter->query(QStringLiteral("SYST:ERR?"));
        },
        [this] { return checkTimeLeft(); },
        QStringLiteral("set-up: ") + meterCommands().join(QStringLiteral("; ")));
    if (problem.isEmpty())
        return true;
    *failure = QStringLiteral("the multimeter at %1 %2").arg(setup.meterAddress, problem);
    return false;
}

bool RunEngine::powerBoard(QString *failure)
{
    const SupplyPlan &plan = *setup.supply;
    const int channel = int(plan.channel);
    supply = ports.supply ? ports.supply() : nullptr;
    if (!supply) {
        *failure =
            QStringLiteral("the supply at %1 cannot be reached: no supply port").arg(plan.resource);
        return false;
    }
    const auto refuse = [&](const QString &why) {
        *failure = QStringLiteral("the supply at %1 %2").arg(plan.resource, why);
        switchSupplyOff();
        return false;
    };
    if (setup.checkInstruments && !checkTimeLeft())
        return refuse(QStringLiteral("is not asked: the checks ran out of time"));
    supply->limitExchanges(checkSliceMs());
    QString error;
    if (!supply->connect(plan.resource, &error))
        return refuse(error);
    // Levels first, and checked: an output switched on before would give
    // whatever it was set to last.
    const QString settings =
        QStringLiteral("output %1 at %2 V, %3 A")
            .arg(channel)
            .arg(MeterSetup::numberText(plan.voltage), MeterSetup::numberText(plan.currentLimit));
    const auto queueProblem = [&] {
        return ErrorQueue::problem(
            [&] {
                supply->limitExchanges(checkSliceMs());
                return supply->nextError();
            },
            [this] { return checkTimeLeft(); }, settings);
    };
    supply->setLevels(channel, plan.voltage, plan.currentLimit);
    QString problem = queueProblem();
    if (!problem.isEmpty())
        return refuse(problem);
    supplyOn = true; // from the moment the command may have gone out
    supply->setOutput(channel, true);
    supply->limitExchanges(checkSliceMs());
    const std::optional<bool> on = supply->isOutputOn(channel);
    problem = queueProblem();
    if (!problem.isEmpty())
        return refuse(problem);
    if (!on || !*on)
        return refuse(QStringLiteral("does not switch output %1 on").arg(channel));
    if (setup.checkInstruments)
        supply->limitExchanges(0);
    logQuoted(QStringLiteral("TestThread: PWR Output On: ") + settings);
    return true;
}

void RunEngine::switchSupplyOff()
{
    if (!supply || !supplyOn)
        return;
    const int channel = int(setup.supply->channel);
    // Twice at most: a command lost on a link that was out of step goes again.
    bool off = false;
    for (int attempt = 0; attempt < 2 && !off; ++attempt) {
        supply->setOutput(channel, false);
        const std::optional<bool> state = supply->isOutputOn(channel);
        off = state && !*state;
    }
    supplyOn = false;
    if (off) {
        logQuoted(QStringLiteral("TestThread: PWR Output Off"));
        return;
    }
    tally.supplyLeftOn = true;
    logQuoted(QStringLiteral("TestThread: PWR Output Not Confirmed Off"));
    emit faultNoticed(QStringLiteral("The supply at %1 does not confirm output %2 off")
                          .arg(setup.supply->resource)
                          .arg(channel));
}

void RunEngine::measureSupplyCurrent()
{
    rowSupplyCell = readingCell(supply->measureCurrent(int(setup.supply->channel)));
    logQuoted(QStringLiteral("TestThread: PWR Current: ") + rowSupplyCell);
}

// A supply reply that a stray line put in doubt goes in as ERR, like a meter's.
QString RunEngine::appendSupplyCell(qint64 step, const QString &measured)
{
    QString cell = measured;
    if (cell != QLatin1String("ERR") && !supply->lastReplyStands()) {
        emit faultNoticed(QStringLiteral("Supply current %1 of step %2 is ERR: the supply sent a "
                                         "reply no query asked for")
                              .arg(cell)
                              .arg(step));
        cell = QStringLiteral("ERR");
    }
    if (!isMeasurement(cell)) {
        tally.supplyNotMeasured += 1;
        emit faultNoticed(QStringLiteral("Supply current of step %1 is not a measurement: %2")
                              .arg(step)
                              .arg(cell));
    }
    append(QStringLiteral("\t") + cell, false);
    return cell;
}

void RunEngine::stop(const QString &reason)
{
    if (running) {
        tally.stoppedBy = reason;
        // The readings taken go in, told like any other.
        writeReadings(true);
        end(RunOutcome::Stopped);
    }
    releaseRun();
}

void RunEngine::requestStop()
{
    stopRequested = true;
    const QMutexLocker locker(&meterMutex);
    if (meter)
        meter->abort();
}

void RunEngine::singleStep()
{
    if (stepTimer)
        stepTimer->start(kSingleStepMs);
}

void RunEngine::end(RunOutcome::Status status, const QString &failure)
{
    if (running) {
        const QMutexLocker locker(&progressMutex);
        progressState.running = false;
        progressState.endMs = setup.clock.monotonicMs();
        progressState.finished = status == RunOutcome::Finished;
    }
    running = false;
    if (stepTimer)
        stepTimer->stop();
    // Off before the record's last word, which says whether it went off.
    switchSupplyOff();
    tally.status = status;
    tally.failure = failure;
    recordEnd();
    emit runEnded(tally);
}

// What the record says of the run from its start: the software, the test,
// the parameters as typed and as taken, the meter and its set-up, the port.
void RunEngine::recordStart()
{
    record = RunRecord();
    record.runId = tally.runId;
    record.software = QStringLiteral("benchtest " BENCHTEST_VERSION);
    record.test = setup.kind->valueName;
    record.testName = setup.testName;
    record.testItem = setup.testItem;
    record.tester = setup.tester;
    for (const QString &text : setup.parameters)
        record.parametersTyped.append(text);
    record.parametersUsed = {params.repeatCount, params.settleMs, params.sampleCount,
                             params.sampleIntervalMs};
    record.meter = {setup.meterAddress, meter->identity().trimmed(), meterCommands()};
    record.serialDevice = board ? board->device() : QString();
    if (setup.supply) {
        const SupplyPlan &plan = *setup.supply;
        record.supply = RunRecord::Supply{plan.resource,     supply->identity().trimmed(),
                                          plan.channel,      plan.voltage,
                                          plan.currentLimit, plan.readsCurrent};
    }
    record.plan = setup.plan;
    record.resultFile = tally.resultFile;
    record.started = setup.clock.localTime();

    recordFile = std::make_unique<RecordFile>(*ports.fileSystem);
    recordFile->setPath(RunRecord::pathFor(tally.resultFile));
    tally.recordFile = recordFile->path();
    if (!tally.recoveryFile.isEmpty())
        recordDiversion(); // the head block went there already
    else
        writeRecord(*recordFile, true);
    emit recordChanged(record);
}

// A resumed run's record is the interrupted run's, taken over: the segment
// that ended is closed with what the file shows, a new one begins. False
// when the record cannot be taken over: the run then ends before it writes.
bool RunEngine::recordResumed()
{
    const RunResume &resume = setup.resume;
    record = resume.earlier;
    if (record.segments.isEmpty()) {
        RunRecord::Segment first;
        first.started = record.started;
        record.segments.append(first);
    }
    RunRecord::Segment &last = record.segments.last();
    last.ended = record.ended;
    last.lastStep = resume.firstStep - 1;
    last.endedAs = record.hasEnded() ? record.outcome.status : QStringLiteral("interrupted");
    last.stoppedBy = record.outcome.stoppedBy;
    last.cut = resume.cut;
    RunRecord::Segment next;
    next.started = setup.clock.localTime();
    next.firstStep = resume.firstStep;
    next.lastStep = resume.firstStep - 1;
    record.segments.append(next);
    record.software = QStringLiteral("benchtest " BENCHTEST_VERSION);
    record.meter.resource = setup.meterAddress;
    record.serialDevice = board ? board->device() : QString();
    record.ended = QDateTime();
    record.durationMs = -1;
    record.outcome = RunRecord::Outcome();
    record.database.reset(); // said of the run as it ended before; said again at its end
    tally.runId = record.runId;

    recordFile = std::make_unique<RecordFile>(*ports.fileSystem);
    recordFile->setPath(RunRecord::pathFor(tally.resultFile));
    tally.recordFile = recordFile->path();
    QString error;
    if (!recordFile->takeOver(resume.earlierBytes, &error)) {
        recordFile.reset();
        end(RunOutcome::Failed, error);
        return false;
    }
    writeRecord(*recordFile, true);
    emit recordChanged(record);
    return true;
}

// The run moved on to its recovery file: the record beside the run's first
// file says where, and a record beside the recovery file takes over.
void RunEngine::recordDiversion()
{
    record.recoveryFile = tally.recoveryFile;
    record.continuedIn = tally.recoveryFile;
    // Best effort: the first file's folder is often what failed.
    if (recordFile)
        writeRecord(*recordFile, false);
    record.continuedIn.clear();
    recoveryRecordFile = std::make_unique<RecordFile>(*ports.fileSystem);
    recoveryRecordFile->setPath(RunRecord::pathFor(tally.recoveryFile));
    tally.recordFile = recoveryRecordFile->path();
    writeRecord(*recoveryRecordFile, true);
    emit recordChanged(record);
}

// The record's last word: how the run ended, with its counts. Written once
// the result file's last piece is on disk, so that it claims nothing that
// is not.
void RunEngine::recordEnd()
{
    if (tally.resultFile.isEmpty() || !recordFile)
        return; // refused before it had a file
    tally.fileSynced = fileOp && fileOp->SyncResultFile();
    record.ended = setup.clock.localTime();
    record.durationMs = qMax<qint64>(setup.clock.monotonicMs() - startedAtMs, 0);
    static const char *const statusNames[] = {"finished", "stopped", "failed"};
    RunRecord::Outcome &outcome = record.outcome;
    outcome.status = QLatin1String(statusNames[tally.status]);
    outcome.stepsPlanned = tally.stepsPlanned;
    outcome.stepsDone = tally.stepsDone;
    outcome.readings = tally.readings;
    outcome.errCells = tally.errCells;
    outcome.notMeasurements = tally.notMeasurements;
    outcome.valuesNotSent = tally.framesNotSent;
    outcome.piecesNotWritten = tally.piecesNotWritten;
    outcome.supplyNotMeasured = tally.supplyNotMeasured;
    outcome.supplyLeftOn = tally.supplyLeftOn;
    outcome.stoppedBy = tally.stoppedBy;
    if (!record.segments.isEmpty()) {
        RunRecord::Segment &last = record.segments.last();
        last.ended = record.ended;
        last.lastStep = tally.stepsDone;
        last.endedAs = outcome.status;
        last.stoppedBy = tally.stoppedBy;
    }

    // Beside the recovery file the whole story; beside the first file where
    // the run went on. Each write is counted before the record is composed,
    // so that a record that went in says whether an earlier one did not.
    RecordFile *const files[] = {recoveryRecordFile.get(), recordFile.get()};
    for (RecordFile *file : files) {
        if (!file)
            continue;
        record.continuedIn = file == recordFile.get() ? tally.recoveryFile : QString();
        outcome.recordWritesFailed = tally.recordWritesFailed;
        outcome.clean = tally.isClean();
        outcome.summary = tally.summary();
        // Once the run has moved on, its record is the one beside the recovery file.
        writeRecord(*file, file != recordFile.get() || !recoveryRecordFile);
    }
    record.continuedIn.clear();
    // The outcome the caller gets names a write that failed last.
    outcome.recordWritesFailed = tally.recordWritesFailed;
    outcome.clean = tally.isClean();
    outcome.summary = tally.summary();
    emit recordChanged(record);
}

bool RunEngine::amendRecord(const DatabaseResult &database, QString *error)
{
    if (running || !recordFile || !record.hasEnded()) {
        if (error)
            *error = QStringLiteral("no ended run with a record");
        return false;
    }
    tally.database = database;
    record.database = database;
    // As at the end: the whole story beside the recovery file, where the run went on beside
    // the first; the record that counts is the run's last.
    bool written = true;
    RecordFile *const files[] = {recoveryRecordFile.get(), recordFile.get()};
    for (RecordFile *file : files) {
        if (!file)
            continue;
        record.continuedIn = file == recordFile.get() ? tally.recoveryFile : QString();
        const bool counts = file != recordFile.get() || !recoveryRecordFile;
        QString failure;
        if (!writeRecord(*file, false, &failure) && counts) {
            written = false;
            if (error)
                *error = failure;
        }
    }
    record.continuedIn.clear();
    return written;
}

bool RunEngine::writeRecord(RecordFile &file, bool counts, QString *failure)
{
    QString error;
    const QByteArray bytes = QJsonDocument(record.toJson()).toJson();
    if (file.write(bytes, &error))
        return true;
    if (failure)
        *failure = error;
    if (!counts) {
        logQuoted(QStringLiteral("TestThread: Record not written: ") + error);
        return false;
    }
    tally.recordWritesFailed += 1;
    if (tally.recordFailure.isEmpty())
        tally.recordFailure = error;
    logQuoted(QStringLiteral("TestThread: Record not written: ") + error);
    emit faultNoticed(QStringLiteral("Record not written: %1").arg(error));
    return false;
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
    // Power goes first: whatever else fails, the board is not left live.
    if (supply) {
        switchSupplyOff();
        supply->close();
        supply.reset();
    }
    if (meter) {
        meter->close();
        const QMutexLocker locker(&meterMutex);
        meter.reset();
    }
    if (board) {
        board->close();
        board.reset();
    }
    fileOp.reset();
}

void RunEngine::sendValue()
{
    if (!phaseMayRun())
        return;
    if (params.repeatCount == 0) {
        end(RunOutcome::Finished);
        return;
    }
    // The last row goes in before the next begins.
    writeReadings(true);
    if (!running)
        return; // stopped by a listener

    const qint64 k = params.step + 1;
    const qint32 code = codeOf(k);
    logQuoted(QStringLiteral("TestThread: %1 / %2").arg(k).arg(params.repeatCount));
    logQuoted(QStringLiteral("TestThread: UART Send %1: %2").arg(setup.kind->valueName).arg(code));
    // Without a port the values go nowhere by choice, not by fault.
    if (board && !board->send(code)) {
        tally.framesNotSent += 1;
        emit faultNoticed(QStringLiteral("Value %1 not sent to the board").arg(code));
    }
    append(QStringLiteral("%1\t%2").arg(k).arg(code), false);
    emit valueSent(k, code);
    if (!running)
        return; // stopped by a listener

    logQuoted(QStringLiteral("TestThread: Delay: %1").arg(params.settleMs));
    continueWith(&RunEngine::takeReading, params.settleMs);
}

void RunEngine::takeReading()
{
    if (!phaseMayRun())
        return;
    params.sample += 1;
    // Once a step, settled, before its meter readings.
    if (params.sample == 1 && readsSupplyCurrent())
        measureSupplyCurrent();
    const QString reply = meter->query(QStringLiteral("Read?"));
    // A stop that came while the meter was asked: the reading is not the
    // run's any more, and the stop follows.
    if (stopRequested)
        return;
    const QString cell = readingCell(reply);
    PendingReading reading;
    reading.step = params.step + 1;
    reading.value = codeOf(params.step + 1);
    reading.cell = cell;
    reading.reply = reply.simplified().isEmpty() ? 0 : meter->lastReply();
    reading.endsRow = params.sample >= params.sampleCount;
    if (reading.endsRow && readsSupplyCurrent())
        reading.supplyCell = rowSupplyCell;
    pending.push_back(reading);
    // The query looked at the link first: that told the readings before.
    writeReadings(false);
    if (!running)
        return; // stopped by a listener
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
    {
        const QMutexLocker locker(&progressMutex);
        progressState.done = params.step;
    }
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
    continueWith(&RunEngine::sendValue, setup.nextStepMs);
}

// Puts the readings the meter has told into the file, oldest first, a
// disowned one as ERR, with the end of its row when it is a row's last.
void RunEngine::writeReadings(bool settle)
{
    if (pending.empty())
        return;
    if (settle && meter)
        meter->settleLink();
    while (!pending.empty() && running) {
        const PendingReading reading = pending.front();
        const MeterPort::ReplyState state = reading.reply == 0 || !meter
                                                ? MeterPort::ReplyState::Disowned
                                                : meter->replyState(reading.reply);
        if (state == MeterPort::ReplyState::Open && !settle)
            return;
        pending.pop_front();
        QString cell = reading.cell;
        if (reading.reply != 0 && state != MeterPort::ReplyState::Confirmed) {
            logQuoted(QStringLiteral("TestThread: DMM Measure [%1] is ERR: a reply no query asked "
                                     "for came around it")
                          .arg(cell));
            emit faultNoticed(
                QStringLiteral("Reading %1 of step %2 is ERR: the meter sent a reply no query "
                               "asked for")
                    .arg(cell)
                    .arg(reading.step));
            cell = QStringLiteral("ERR");
        }
        tally.readings += 1;
        if (cell == QLatin1String("ERR"))
            tally.errCells += 1;
        else if (!isMeasurement(cell))
            tally.notMeasurements += 1;
        if (rowCells.isEmpty())
            rowValue = reading.value;
        rowCells.append(cell);
        append(QStringLiteral("\t") + cell, false);
        if (reading.endsRow) {
            const QString supplyCell = reading.supplyCell
                                           ? appendSupplyCell(reading.step, *reading.supplyCell)
                                           : QString();
            append(QString(), true);
            const QStringList cells = rowCells;
            rowCells.clear();
            if (reading.supplyCell)
                emit supplyCurrentWritten(reading.step, supplyCell);
            emit rowWritten(reading.step, rowValue, cells);
        }
    }
}

void RunEngine::reportProgress()
{
    if (!running)
        return;
    const qint64 now = setup.clock.monotonicMs();
    RunProgress progress;
    {
        const QMutexLocker locker(&progressMutex);
        progress.done = progressState.done;
        progress.total = progressState.total;
        progress.elapsedMs = now - progressState.startMs;
        // The time per step comes from this start's steps alone.
        const qint64 before = progressState.doneBefore;
        const ProgressFigures figures =
            progressFigures(progress.elapsedMs, progress.total - before, progress.done - before);
        progress.percent = progressFigures(0, progress.total, progress.done).percent;
        if (figures.known) {
            progressState.estimateMs = qMax<qint64>(figures.remainingMs, 0);
            progressState.estimatedAtMs = now;
        }
        progress.remainingMs = figures.known ? figures.remainingMs : -1;
    }
    emit progressChanged(progress);
}

RunProgress RunEngine::currentProgress() const
{
    const QMutexLocker locker(&progressMutex);
    const ProgressState &state = progressState;
    RunProgress progress;
    progress.done = state.done;
    progress.total = state.total;
    if (!state.running && state.endMs < 0)
        return progress; // not started, or refused before its first step
    const qint64 now = state.running ? setup.clock.monotonicMs() : state.endMs;
    progress.elapsedMs = qMax<qint64>(now - state.startMs, 0);
    progress.finished = state.finished;
    if (progress.finished) {
        progress.percent = 100;
        progress.remainingMs = 0;
        return progress;
    }
    progress.percent = progressFigures(progress.elapsedMs, progress.total, progress.done).percent;
    if (state.estimateMs >= 0)
        progress.remainingMs =
            qMax<qint64>(state.estimateMs - qMax<qint64>(now - state.estimatedAtMs, 0), 0);
    return progress;
}

void RunEngine::finish()
{
    writeReadings(true);
    if (!running)
        return; // stopped by a listener
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
    fileOp->AppendText(tally.resultFile, text, lineEnd);
    tally.piecesNotWritten = fileOp->piecesNotWritten();
    tally.recoveryFile = fileOp->recoveryFile();
    if (!divertedBefore && !tally.recoveryFile.isEmpty()) {
        emit faultNoticed(
            QStringLiteral("Result file lost, the rest goes to %1").arg(tally.recoveryFile));
        if (recordFile)
            recordDiversion();
    }
    if (tally.piecesNotWritten > lostBefore)
        emit faultNoticed(
            QStringLiteral("Result not written: %1 pieces lost").arg(tally.piecesNotWritten));
}
