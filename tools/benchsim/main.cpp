// benchsim: simulated bench instruments for tests and demos (see --help).

#include "commandline/CommandLine.h"
#include "tools/benchsim/BenchSim.h"
#include "tools/benchsim/BenchSimOptions.h"
#include "tools/common/TerminationSignals.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const CommandLine commandLine(QStringLiteral("benchsim"));
    BenchSimOptions options;
    QString error;
    bool shown = false;
    if (!BenchSimOptions::parse(app.arguments(), options, error, shown))
        return shown ? commandLine.showHelp(error) : commandLine.badUsage(error);

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app, &QCoreApplication::quit);
    BenchSim sim;
    if (!sim.start(options, error)) {
        std::fprintf(stderr, "benchsim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(sim.addressLine()));
    std::fflush(stdout);
    return app.exec();
}
