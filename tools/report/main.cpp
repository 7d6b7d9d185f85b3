#include "commandline/CommandLine.h"
#include "commandline/RuntimeDirectory.h"
#include "tools/report/FollowMode.h"
#include "tools/report/ReportCommand.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const bool window = FollowMode::opensWindow(arguments);
    // Plots are painted off screen; the tool needs no display but for the live window.
    if (!window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("benchtest-report: no display for the live window; --headless writes the "
                   "report when the run ends\n",
                   stderr);
        return 1;
    }
    provideRuntimeDirectory();
    // Widgets only for the window; the rest runs on Qt Gui alone, as it always has.
    const std::unique_ptr<QGuiApplication> app(window ? new QApplication(argc, argv)
                                                      : new QGuiApplication(argc, argv));
    QGuiApplication::setApplicationName(QStringLiteral("benchtest-report"));
    QGuiApplication::setApplicationVersion(CommandLine::version());
    return ReportCommand().run(QGuiApplication::arguments());
}
