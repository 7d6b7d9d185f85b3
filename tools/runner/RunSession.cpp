#include "tools/runner/RunSession.h"

#include "context/TestContext.h"
#include "database/RunEngineDatabaseLink.h"
#include "engine/RunThread.h"
#include "settings/ConfigLocation.h"
#include "settings/RunDefaults.h"
#include "settings/SerialPortLookup.h"
#include "tools/common/TerminationSignals.h"
#include "tools/runner/ProgressPrinter.h"
#include "tools/runner/RunLog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
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

// The meter the window would use: the configuration file's address, else the
// form's. The file is only read: a missing one is not created.
QString configuredMeterAddress()
{
    const QString path = usableProgramConfigFile();
    const QString address = path.isEmpty() ? QString()
                                           : QSettings(path, QSettings::IniFormat)
                                                 .value(QStringLiteral("defaultAddr/DMM"))
                                                 .toString();
    return address.isEmpty() ? QString::fromLatin1(RunDefaults::meterAddress) : address;
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

RunSession::RunSession(const RunnerOptions &options, QObject *parent)
    : QObject(parent), options(options)
{}

RunSession::RunSession(const RunnerOptions &options, const RunResume &resume, QObject *parent)
    : QObject(parent), options(options), resume(resume)
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
    setup->meterAddress =
        options.dmmResource.isEmpty() ? configuredMeterAddress() : options.dmmResource;
    setup->resume = resume;
    // Without --serial the values go nowhere, by choice.
    if (!options.serialPort.isEmpty()) {
        setup->serial = &TestContext.uart;
        setup->failWithoutBoard = true;
    }
    return true;
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
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    ProgressPrinter printer(stdout, terminal);
    if (terminal)
        RunLog::setLineGuard([&printer] { printer.stepAside(); },
                             [&printer] { printer.comeBack(); });

    // The run goes on a thread of its own: a meter that stalls never holds up
    // the stop signals or the terminal's bar.
    RunThread run(setup);
    RunEngine *engine = run.engine();
    RunOutcome outcome;
    bool ended = false;
    connect(engine, &RunEngine::progressChanged, this,
            [&printer](const RunProgress &progress) { printer.stepCompleted(progress); });
    connect(engine, &RunEngine::recordChanged, this,
            [&, warned = false](const RunRecord &record) mutable {
                if (warned || !record.meter.identity.isEmpty())
                    return;
                warned = true;
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
    if (!outcome.resultFile.isEmpty())
        std::printf("%s\n", QFile::encodeName(outcome.resultFile).constData());
    std::fflush(stdout);

    switch (outcome.status) {
    case RunOutcome::Finished:
        if (outcome.isClean())
            return Finished;
        tell(QStringLiteral("the run is not clean: ") + outcome.summary());
        return NotClean;
    case RunOutcome::Stopped:
        tell(QStringLiteral("stopped by %1 after %2 of %3 steps; the result file ends at the "
                            "last piece written")
                 .arg(QLatin1String(stopSignal == SIGTERM ? "SIGTERM" : "SIGINT"))
                 .arg(outcome.stepsDone)
                 .arg(outcome.stepsPlanned));
        return 128 + (stopSignal != 0 ? stopSignal : SIGINT);
    case RunOutcome::Failed:
        tell(outcome.failure);
        return CouldNotStart;
    }
    return CouldNotStart;
}
