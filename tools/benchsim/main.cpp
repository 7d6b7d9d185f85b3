// benchsim: simulated bench instruments for tests and demos (see --help).

#include "BenchSim.h"
#include "BenchSimOptions.h"
#include "TerminationSignals.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    BenchSimOptions options;
    QString error;
    bool helpShown = false;
    if (!BenchSimOptions::parse(app.arguments(), options, error, helpShown)) {
        std::fputs(qPrintable(helpShown ? error : "benchsim: " + error + "\n"),
                   helpShown ? stdout : stderr);
        return helpShown ? 0 : 2;
    }

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
