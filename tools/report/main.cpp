#include "commandline/CommandLine.h"
#include "commandline/RuntimeDirectory.h"
#include "tools/report/ReportCommand.h"

#include <QGuiApplication>

int main(int argc, char *argv[])
{
    // Plots are painted off screen; the tool needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    provideRuntimeDirectory();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("benchtest-report"));
    QGuiApplication::setApplicationVersion(CommandLine::version());
    return ReportCommand().run(QGuiApplication::arguments());
}
