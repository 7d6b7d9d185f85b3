// benchtest-run: one bench test run from the command line, without a window.
#include "commandline/CommandLine.h"
#include "settings/ConfigLocation.h"
#include "tools/runner/Preflight.h"
#include "tools/runner/ResourceLister.h"
#include "tools/runner/ResumePlan.h"
#include "tools/runner/RunLog.h"
#include "tools/runner/RunSession.h"
#include "tools/runner/RunnerOptions.h"
#include "tools/runner/RunnerPlan.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

// A plan or a check that refuses the run: one line, status 2, nothing written.
int refuse(const QString &message)
{
    std::fprintf(stderr, "benchtest-run: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    return RunSession::CouldNotStart;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine(QStringLiteral("benchtest-run"));
    RunnerOptions options;
    QString error;
    if (!RunnerOptions::parse(arguments, &options, &error))
        return commandLine.badUsage(error);
    if (options.helpRequested)
        return commandLine.showHelp(RunnerOptions::helpText());
    if (options.versionRequested)
        return commandLine.showVersion();
    if (options.listResources)
        return ResourceLister::run(options.resourcePattern, options.probeSerial, stdout, stderr);

    // A reader that goes away (a pipe into head) or a terminal that hangs up
    // must not end a measurement mid-row: writes to them fail, the run goes on.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    RunLog::install(options.verbose);
    QCoreApplication app(argc, argv);
    AppNames::apply();

    // A configuration file that is not a file is refused before anything reads it.
    const QString config = programConfigFile();
    const QString configProblem = configFileProblem(config);
    if (!configProblem.isEmpty())
        return refuse(QStringLiteral("configuration file %1 %2").arg(config, configProblem));

    if (!options.resume.isEmpty()) {
        ResumePlan resumed;
        if (!ResumePlan::read(options.resume, options, &resumed, &error))
            return refuse(error);
        return RunSession(resumed.options, resumed.resume).exec();
    }

    RunPlan plan;
    if (!RunnerPlan::resolve(options, &plan, &error))
        return refuse(error);
    if (options.dryRun) {
        RunnerPlan::printDryRun(plan, options.eventsJson, stdout);
        return RunSession::Finished;
    }
    if (options.eventsJson)
        return refuse(QStringLiteral("--events json is not emitted by a run yet; it works with "
                                     "--dry-run"));
    if (!RunnerPlan::engineRunsAsPlanned(plan, &error))
        return refuse(error);
    Preflight preflight(plan, options.outputDir, options.allowNoMeter);
    if (!preflight.run(&error))
        return refuse(error);
    return RunSession(RunnerPlan::sessionOptions(options, plan)).exec();
}
