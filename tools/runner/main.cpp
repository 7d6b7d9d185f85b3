// benchtest-run: one test run of the real window, driven from the command line.
#include "RunLog.h"
#include "RunSession.h"
#include "RunnerOptions.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    RunnerOptions options;
    QString error;
    if (!RunnerOptions::parse(arguments, &options, &error)) {
        std::fprintf(stderr, "benchtest-run: %s\nTry 'benchtest-run --help'.\n",
                     error.toLocal8Bit().constData());
        return RunSession::CouldNotStart;
    }
    if (options.helpRequested) {
        std::fputs(RunnerOptions::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }

    // The window is built but never shown; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    RunLog::install(options.verbose);
    QApplication app(argc, argv);
    return RunSession(options).exec();
}
