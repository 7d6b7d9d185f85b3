#include "tools/runner/RunSession.h"

#include "context/TestContext.h"
#include "database/RunEngineDatabaseLink.h"
#include "engine/RunThread.h"
#include "settings/ConfigLocation.h"
#include "settings/RunDefaults.h"
#include "settings/SerialPortLookup.h"
#include "tools/common/TerminationSignals.h"
#include "tools/runner/ProgressPrinter.h"
#include "tools/runner/RunEvents.h"
#include "tools/runner/RunLog.h"
#include "tools/runner/RunnerPlan.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

void tell(const QString &message)
{
    std::fprintf(stderr, "benchtest-run: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool lookUpSerialPort(const QString &name, SerialConfig &uart, QString *error)
{
    uart.portName = name;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    const SerialPortMatch match = findSerialPort(name, ports);
    assignSerialPort(match, uart.port, uart.portInfo);
    if (match.kind != SerialPortMatch::NotFound)
        return true;
    QStringList names;
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    *error = QStringLiteral("serial port %1 not found (ports present: %2)")
                 .arg(name, names.isEmpty() ? QStringLiteral("none") : names.join(", "));
    return false;
}

// How often the terminal's bar is redrawn between steps: a settle time of
// seconds must not look like a hang.
const int kRedrawMs = 500;

} // namespace

RunSession::RunSession(const RunnerOptions &options, const RunPlan &plan, QObject *parent)
    : QObject(parent), options(options), plan(plan)
{}

bool RunSession::prepare(RunSetup *setup, QString *error) const
{
    const QFileInfo folder(options.outputDir);
    if (!folder.isDir()) {
        *error = QStringLiteral("result folder %1 does not exist").arg(options.outputDir);
        return false;
    }
    if (!folder.isWritable()) {
        *error = QStringLiteral("result folder %1 is not writable").arg(options.outputDir);
        return false;
    }
    if (!options.serialPort.isEmpty() &&
        !lookUpSerialPort(options.serialPort, TestContext.uart, error))
        return false;
    if (!databaseUrl().isEmpty() && DatabaseUrl::parse(databaseUrl(), error).isEmpty())
        return false;

    setup->kind = options.test == RunnerOptions::Test::Dac ? &dacTestKind() : &isinkTestKind();
    for (size_t i = 0; i < setup->parameters.size(); ++i)
        setup->parameters[i] =
            options.vars[i].value_or(QString::fromLatin1(RunDefaults::parameters[i]));
    setup->testName = setup->kind->title;
    setup->testItem = options.item.value_or(QString());
    if (setup->testItem.isEmpty())
        setup->testItem = QString::fromUtf8(RunDefaults::missingItem);
    setup->tester = options.tester.value_or(QString());
    if (setup->tester.isEmpty())
        setup->tester = QString::fromUtf8(RunDefaults::missingTester);
    setup->folder = folder.absoluteFilePath();
    // The plan's, from the command line, the plan file or config.ini: never
    // an address of the program's own. Empty only with --allow-no-meter.
    setup->meterAddress = plan.meterResource;
    setup->resume = resume;
    // Without --serial the values go nowhere, by choice.
    if (!options.serialPort.isEmpty()) {
        setup->serial = &TestContext.uart;
        setup->failWithoutBoard = true;
    }
    RunnerPlan::configureEngine(plan, options.allowNoMeter, setup);
    return true;
}

void RunSession::reportEvents(RunEngine *engine, RunEvents *events)
{
    connect(engine, &RunEngine::runStarted, this, [this, events](const RunRecord &record) {
        started = true;
        const auto textOrNull = [](const QString &text) {
            return text.isEmpty() ? QJsonValue() : QJsonValue(text);
        };
        QJsonObject identities{{QStringLiteral("meter"), textOrNull(record.meter.identity)}};
        if (record.supply)
            identities.insert(QStringLiteral("supply"), textOrNull(record.supply->identity));
        events->start(plan.toJson(), identities, record.resultFile);
    });
    connect(engine, &RunEngine::supplyCurrentWritten, this,
            [this](qint64, const QString &cell) { pendingSupplyCell = cell; });
    connect(engine, &RunEngine::rowWritten, this,
            [this, events](qint64 step, qint32 code, const QStringList &cells) {
                events->step(step, code, cells, pendingSupplyCell);
                pendingSupplyCell.reset();
            });
    // A fault belongs to the step under way: the one after those finished.
    // The signals come in the order the engine sent them, so the count here
    // is the engine's at the moment of the fault.
    connect(engine, &RunEngine::stepFinished, this, [this](qint64 step) { stepsFinished = step; });
    connect(engine, &RunEngine::faultNoticed, this, [this, events](const QString &what) {
        if (started)
            events->fault(what, qMin(stepsFinished + 1, qMax<qint64>(plan.sweep.count(), 1)));
    });
}

// A run refused before it had a file writes no event: its one line is on
// standard error.
void RunSession::reportEnd(RunEvents *events, const RunOutcome &outcome, int status) const
{
    if (!started)
        return;
    static const char *const statusNames[] = {"finished", "stopped", "failed"};
    const QJsonObject counts{{QStringLiteral("stepsPlanned"), outcome.stepsPlanned},
                             {QStringLiteral("stepsDone"), outcome.stepsDone},
                             {QStringLiteral("readings"), outcome.readings},
                             {QStringLiteral("errCells"), outcome.errCells},
                             {QStringLiteral("notMeasurements"), outcome.notMeasurements},
                             {QStringLiteral("valuesNotSent"), outcome.framesNotSent},
                             {QStringLiteral("piecesNotWritten"), outcome.piecesNotWritten},
                             {QStringLiteral("supplyNotMeasured"), outcome.supplyNotMeasured},
                             {QStringLiteral("supplyLeftOn"), outcome.supplyLeftOn}};
    events->end(QLatin1String(statusNames[outcome.status]), outcome.isClean(), counts,
                outcome.summary(), status, outcome.resultFile, outcome.recordFile);
}

int RunSession::exitStatus(const RunOutcome &outcome, int stopSignal)
{
    switch (outcome.status) {
    case RunOutcome::Finished:
        return outcome.isClean() ? Finished : NotClean;
    case RunOutcome::Stopped:
        return 128 + (stopSignal != 0 ? stopSignal : SIGINT);
    case RunOutcome::Failed:
        return CouldNotStart;
    }
    return CouldNotStart;
}

QString RunSession::databaseUrl() const
{
    return options.databaseUrl.isEmpty() ? DatabaseUrl::fromConfigFile(usableProgramConfigFile())
                                         : options.databaseUrl;
}

int RunSession::exec()
{
    RunSetup setup;
    QString error;
    if (!prepare(&setup, &error)) {
        tell(error);
        return CouldNotStart;
    }

    TerminationSignals stopSignals;
    // Standard output is the events' alone when there are any.
    std::FILE *const human = options.eventsJson ? stderr : stdout;
    const bool terminal = ::isatty(::fileno(human)) == 1;
    ProgressPrinter printer(human, terminal);
    if (terminal)
        RunLog::setLineGuard([&printer] { printer.stepAside(); },
                             [&printer] { printer.comeBack(); });

    std::optional<RunEvents> events; // outlives the run, whose last signals it may hear
    if (options.eventsJson)
        events.emplace(stdout);
    // The run goes on a thread of its own: a meter that stalls never holds up
    // the stop signals or the terminal's bar.
    RunThread run(setup);
    RunEngine *engine = run.engine();
    if (events)
        reportEvents(engine, &*events);
    RunOutcome outcome;
    bool ended = false;
    connect(engine, &RunEngine::progressChanged, this,
            [&printer](const RunProgress &progress) { printer.stepCompleted(progress); });
    connect(engine, &RunEngine::recordChanged, this,
            [&, warned = false](const RunRecord &record) mutable {
                if (warned || !record.meter.identity.isEmpty())
                    return;
                warned = true;
                if (setup.meterAddress.isEmpty())
                    tell(
                        QStringLiteral("warning: no multimeter; its readings are recorded as ERR"));
                else
                    tell(QStringLiteral("warning: the multimeter at %1 does not answer; "
                                        "its readings are recorded as ERR")
                             .arg(setup.meterAddress));
            });
    connect(engine, &RunEngine::runEnded, this, [&](const RunOutcome &result) {
        outcome = result;
        ended = true;
        if (result.status == RunOutcome::Finished)
            printer.stepCompleted(run.currentProgress());
        QCoreApplication::exit(0);
    });
    int stopSignal = 0;
    connect(&stopSignals, &TerminationSignals::received, this, [&run, &stopSignal](int number) {
        if (stopSignal == 0)
            stopSignal = number;
        run.stop(QLatin1String(number == SIGTERM ? "SIGTERM" : "SIGINT"));
    });

    const auto database = RunEngineDatabaseLink::attach(engine, databaseUrl());
    run.start();
    printer.show(run.currentProgress());
    QTimer redraw;
    if (terminal) {
        connect(&redraw, &QTimer::timeout, this,
                [&printer, &run] { printer.show(run.currentProgress()); });
        redraw.start(kRedrawMs);
    }
    if (!ended)
        QCoreApplication::exec();
    redraw.stop();
    // Closes the meter and the port; the file and the record are complete
    // once the run's thread has ended.
    run.stop();
    (void)run.wait(RunThread::kEndWaitMs);
    printer.finish();
    RunLog::setLineGuard({}, {});

    // A run refused before its file existed gave the database nothing to wait for.
    if (database && !outcome.resultFile.isEmpty()) {
        outcome.database = database->sink().waitUntilSettled(RunEngineDatabaseLink::kSettleWaitMs);
        run.amendRecord(*outcome.database);
        tell(QStringLiteral("database: ") + outcome.database->summary());
    }
    const int status = exitStatus(outcome, stopSignal);
    if (events)
        reportEnd(&*events, outcome, status);
    else if (!outcome.resultFile.isEmpty())
        std::printf("%s\n", QFile::encodeName(outcome.resultFile).constData());
    std::fflush(stdout);

    switch (outcome.status) {
    case RunOutcome::Finished:
        if (!outcome.isClean())
            tell(QStringLiteral("the run is not clean: ") + outcome.summary());
        break;
    case RunOutcome::Stopped:
        tell(QStringLiteral("stopped by %1 after %2 of %3 steps; the result file ends at the "
                            "last piece written")
                 .arg(QLatin1String(stopSignal == SIGTERM ? "SIGTERM" : "SIGINT"))
                 .arg(outcome.stepsDone)
                 .arg(outcome.stepsPlanned));
        break;
    case RunOutcome::Failed:
        tell(outcome.failure);
        break;
    }
    return status;
}
