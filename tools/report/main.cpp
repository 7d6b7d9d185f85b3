#include "ReportCommand.h"

#include <QGuiApplication>

int main(int argc, char *argv[])
{
    // Plots are painted off screen; the tool needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("benchtest-report"));
    QGuiApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    return ReportCommand().run(QGuiApplication::arguments());
}
