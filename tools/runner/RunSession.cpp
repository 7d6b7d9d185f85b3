#include "RunSession.h"

#include "HeadlessRunner.h"
#include "ProgressPrinter.h"
#include "RunLog.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void tell(const QString &message)
{
    std::fprintf(stderr, "benchtest-run: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

RunSession::RunSession(const RunnerOptions &options, QObject *parent)
    : QObject(parent), options(options)
{}

int RunSession::exec()
{
    TerminationSignals stopSignals;
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    ProgressPrinter printer(stdout, terminal);
    if (terminal)
        RunLog::setLineGuard([&printer] { printer.stepAside(); },
                             [&printer] { printer.comeBack(); });
    HeadlessRunner runner;

    connect(&runner, &HeadlessRunner::progressChanged, this,
            [&printer](const RunProgress &progress) { printer.show(progress); });
    connect(&runner, &HeadlessRunner::stepCompleted, this,
            [&printer](const RunProgress &progress) { printer.stepCompleted(progress); });
    connect(&runner, &HeadlessRunner::ended, this, [] { QCoreApplication::exit(0); });
    int stopSignal = 0;
    connect(&stopSignals, &TerminationSignals::received, this, [&runner, &stopSignal](int number) {
        if (stopSignal == 0)
            stopSignal = number;
        runner.stop();
    });

    QString error;
    const bool started = runner.start(options, &error);
    if (started) {
        if (!runner.meterConnected())
            tell(QStringLiteral("warning: the multimeter at %1 does not answer; "
                                "its readings are recorded as ERR")
                     .arg(runner.meterAddress()));
        printer.show(runner.progress());
        // A run that already ended cannot end the loop any more.
        if (runner.outcome() == HeadlessRunner::Outcome::Running)
            QCoreApplication::exec();
    }
    printer.finish();
    RunLog::setLineGuard({}, {});

    const bool ranToAnEnd = runner.outcome() != HeadlessRunner::Outcome::FailedToStart;
    if (ranToAnEnd && !runner.resultFilePath().isEmpty())
        std::printf("%s\n", QFile::encodeName(runner.resultFilePath()).constData());
    std::fflush(stdout);

    const RunProgress progress = runner.progress();
    switch (runner.outcome()) {
    case HeadlessRunner::Outcome::Finished:
        return Finished;
    case HeadlessRunner::Outcome::Stopped:
        tell(QStringLiteral("stopped by %1 after %2 of %3 steps; the result file ends at the "
                            "last piece written")
                 .arg(QLatin1String(stopSignal == SIGTERM ? "SIGTERM" : "SIGINT"))
                 .arg(progress.done)
                 .arg(progress.total));
        return 128 + (stopSignal != 0 ? stopSignal : SIGINT);
    case HeadlessRunner::Outcome::Incomplete:
        tell(QStringLiteral("the run ended after %1 of %2 steps without its completion line")
                 .arg(progress.done)
                 .arg(progress.total));
        return Incomplete;
    case HeadlessRunner::Outcome::FailedToStart:
        tell(error + QStringLiteral("; the run was stopped at once (result file %1)")
                         .arg(runner.resultFilePath()));
        return CouldNotStart;
    case HeadlessRunner::Outcome::NotStarted:
    case HeadlessRunner::Outcome::Running:
        break;
    }
    tell(error);
    return CouldNotStart;
}
