// benchtest-run: one bench test run from the command line, without a window.
#include "commandline/CommandLine.h"
#include "settings/ConfigLocation.h"
#include "tools/runner/ResourceLister.h"
#include "tools/runner/RunLog.h"
#include "tools/runner/RunSession.h"
#include "tools/runner/RunnerOptions.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

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
    return RunSession(options).exec();
}
