#include "app/WindowCommandLine.h"

#include "commandline/CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>

namespace {

// The options QApplication takes out of the command line itself.
QList<QCommandLineOption> qtOptions()
{
    QList<QCommandLineOption> options;
    for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin",
                             "qwindowgeometry", "qwindowicon", "qwindowtitle", "session", "style",
                             "stylesheet", "display", "geometry", "name", "title"})
        options << QCommandLineOption(QString::fromLatin1(name), QString(),
                                      QStringLiteral("value"));
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync"})
        options << QCommandLineOption(QString::fromLatin1(name));
    for (QCommandLineOption &option : options)
        option.setFlags(QCommandLineOption::HiddenFromHelp);
    return options;
}

} // namespace

std::optional<int> handleWindowCommandLine(int argc, char **argv)
{
    const CommandLine commandLine(QStringLiteral("benchtest"));
    QCommandLineParser parser;
    // Qt's options are written with one dash (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("The window of the bench test: steps a board's analog output through\n"
                       "its values and records the multimeter's readings. Qt's window-system\n"
                       "options (-platform, -style, -display, ...) are accepted as well."));
    parser.addOptions({CommandLine::helpOption(), CommandLine::versionOption()});
    parser.addOptions(qtOptions());

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return commandLine.parse(parser, arguments);
}
