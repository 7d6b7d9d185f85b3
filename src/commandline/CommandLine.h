#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

// The conventions every program of the tool keeps on its command line: its
// own name (never the path it was started by) in the usage line and in
// messages; --help and --version on standard output with status 0; a bad
// command line on standard error with a hint to --help and status 2.
// Short options mean one thing across the programs, as Debian's own tools
// have it: -h is --help, -v is --verbose (only in a program that has a
// verbose mode; the others refuse it), and the version has no short option.
class CommandLine
{
public:
    static constexpr int Success = 0;
    static constexpr int BadUsage = 2;

    explicit CommandLine(QString programName);

    const QString &programName() const { return name; }
    static QString version();

    static QCommandLineOption helpOption();
    static QCommandLineOption versionOption();
    static QCommandLineOption verboseOption();

    // The parser's help with "Usage: <name> ..." for a first line; Qt's own
    // shows the path the program was started by.
    QString helpText(const QCommandLineParser &parser) const;
    // "<name> <version>", one line.
    QString versionText() const;

    // Parses `arguments` (the program's own first) for a program without
    // positional arguments whose parser holds helpOption() and versionOption():
    // the status to exit with when the command line was bad or asked for help
    // or the version, none when the program goes on.
    std::optional<int> parse(QCommandLineParser &parser, const QStringList &arguments) const;

    // Each prints and returns the status the program exits with.
    int showHelp(const QString &text) const;
    int showVersion() const;
    int badUsage(const QString &message) const;

private:
    QString name;
};
