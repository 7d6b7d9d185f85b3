#include "commandline/CommandLine.h"

#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

void write(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

CommandLine::CommandLine(QString programName) : name(std::move(programName)) {}

QString CommandLine::version()
{
    return QStringLiteral(BENCHTEST_VERSION);
}

QCommandLineOption CommandLine::helpOption()
{
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Show this help and exit."));
}

QCommandLineOption CommandLine::versionOption()
{
    return QCommandLineOption(QStringLiteral("version"),
                              QStringLiteral("Show the version and exit."));
}

QCommandLineOption CommandLine::verboseOption()
{
    return QCommandLineOption({QStringLiteral("v"), QStringLiteral("verbose")},
                              QStringLiteral("Say more about what the program does."));
}

QString CommandLine::helpText(const QCommandLineParser &parser) const
{
    QString text = parser.helpText();
    // Qt names the program by its first argument, or by a placeholder before
    // the application object exists.
    const QString startedAs = QCoreApplication::instance() ? QCoreApplication::arguments().value(0)
                                                           : QStringLiteral("<executable_name>");
    const QString qtUsage = QStringLiteral("Usage: ") + startedAs;
    if (text.startsWith(qtUsage))
        text.replace(0, qtUsage.size(), QStringLiteral("Usage: ") + name);
    return text;
}

QString CommandLine::versionText() const
{
    return name + QLatin1Char(' ') + version() + QLatin1Char('\n');
}

std::optional<int> CommandLine::parse(QCommandLineParser &parser,
                                      const QStringList &arguments) const
{
    if (!parser.parse(arguments))
        return badUsage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return badUsage(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(helpOption()))
        return showHelp(helpText(parser));
    if (parser.isSet(versionOption()))
        return showVersion();
    return std::nullopt;
}

int CommandLine::showHelp(const QString &text) const
{
    write(stdout, text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n'));
    return Success;
}

int CommandLine::showVersion() const
{
    write(stdout, versionText());
    return Success;
}

int CommandLine::badUsage(const QString &message) const
{
    write(stderr, QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(name, message));
    return BadUsage;
}
