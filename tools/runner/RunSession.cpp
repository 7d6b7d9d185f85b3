#include "tools/runner/RunSession.h"

#include "context/TestContext.h"
#include "database/RunEngineDatabaseLink.h"
#include "engine/RunEngine.h"
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
    // A fault belongs to the step under way: the one after those completed.
    connect(engine, &RunEngine::faultNoticed, this, [this, engine, events](const QString &what) {
        const RunProgress progress = engine->currentProgress();
        if (started)
            events->fault(what, qMin(progress.done + 1, qMax<qint64>(progress.total, 1)));
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
    return options.databaseUrl.isEmpty() ? DatabaseUrl::fromConfigFile(programConfigFile())
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

    std::optional<RunEvents> events; // outlives the engine, whose last signals it may hear
    if (options.eventsJson)
        events.emplace(stdout);
    RunEngine engine(setup);
    if (events)
        reportEvents(&engine, &*events);
    RunOutcome outcome;
    bool ended = false;
    connect(&engine, &RunEngine::progressChanged, this,
            [&printer](const RunProgress &progress) { printer.stepCompleted(progress); });
    connect(&engine, &RunEngine::runEnded, this, [&](const RunOutcome &result) {
        outcome = result;
        ended = true;
        if (result.status == RunOutcome::Finished)
            printer.stepCompleted(engine.currentProgress());
        QCoreApplication::exit(0);
    });
    int stopSignal = 0;
    connect(&stopSignals, &TerminationSignals::received, this, [&engine, &stopSignal](int number) {
        if (stopSignal == 0)
            stopSignal = number;
        engine.stop();
    });

    engine.start();
    const auto database = RunEngineDatabaseLink::attach(&engine, databaseUrl());
    if (!ended) {
        if (setup.meterAddress.isEmpty())
            tell(QStringLiteral("warning: no multimeter; its readings are recorded as ERR"));
        else if (!engine.outcome().meterAnswered)
            tell(QStringLiteral("warning: the multimeter at %1 does not answer; "
                                "its readings are recorded as ERR")
                     .arg(setup.meterAddress));
        printer.show(engine.currentProgress());
        QTimer redraw;
        if (terminal) {
            connect(&redraw, &QTimer::timeout, this,
                    [&printer, &engine] { printer.show(engine.currentProgress()); });
            redraw.start(kRedrawMs);
        }
        QCoreApplication::exec();
    }
    // Closes the meter and the port; the file is complete from here on.
    engine.stop();
    printer.finish();
    RunLog::setLineGuard({}, {});

    if (database)
        tell(QStringLiteral("database: ") + database->sink().waitUntilSettled(10000).summary());
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
