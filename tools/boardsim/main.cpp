// benchsim-board: the simulated board under test on a pseudo-terminal.
// Prints the device path the application should open on the first line of
// standard output, then decodes value frames until SIGTERM or SIGINT.

#include "commandline/CommandLine.h"
#include "tools/boardsim/BoardTranscript.h"
#include "tools/boardsim/DeviceLink.h"
#include "tools/boardsim/SimulatedBoard.h"
#include "tools/common/TerminationSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

static int failWith(const QString &message)
{
    std::fprintf(stderr, "benchsim-board: %s\n", qPrintable(message));
    return 1;
}

// Written whole or not at all, so a reader polling for it never sees half a path.
static bool writePathFile(const QString &file, const QString &devicePath, QString *error)
{
    QSaveFile out(file);
    if (out.open(QIODevice::WriteOnly) && out.write(QFile::encodeName(devicePath) + '\n') >= 0 &&
        out.commit())
        return true;
    *error = QStringLiteral("%1: %2").arg(file, out.errorString());
    return false;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const CommandLine commandLine(QStringLiteral("benchsim-board"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated board under test: takes 5-byte value frames on a "
                       "pseudo-terminal (115200 8N1, raw)."));
    const QCommandLineOption linkOption(
        QStringLiteral("link"), QStringLiteral("Make <path> a symbolic link to the device."),
        QStringLiteral("path"));
    const QCommandLineOption pathFileOption(
        QStringLiteral("path-file"),
        QStringLiteral("Also write the path to open into <file> (removed on exit)."),
        QStringLiteral("file"));
    const QCommandLineOption transcriptOption(
        QStringLiteral("transcript"),
        QStringLiteral("Record every value and bad frame received into <file>."),
        QStringLiteral("file"));
    parser.addOptions({CommandLine::helpOption(), CommandLine::versionOption(), linkOption,
                       pathFileOption, transcriptOption});
    if (const auto status = commandLine.parse(parser, QCoreApplication::arguments()))
        return *status;

    SimulatedBoard board;
    QString error;
    if (!board.start(&error))
        return failWith(error);

    BoardTranscript transcript;
    if (parser.isSet(transcriptOption)) {
        if (!transcript.open(parser.value(transcriptOption), &error))
            return failWith(error);
        transcript.follow(&board);
    }

    QString openPath = board.devicePath();
    DeviceLink link;
    if (parser.isSet(linkOption)) {
        if (!link.create(parser.value(linkOption), board.devicePath(), &error))
            return failWith(error);
        openPath = parser.value(linkOption);
    }

    const QString pathFile = parser.value(pathFileOption);
    if (!pathFile.isEmpty() && !writePathFile(pathFile, openPath, &error))
        return failWith(error);

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app, &QCoreApplication::quit);

    std::printf("%s\n", QFile::encodeName(openPath).constData());
    std::fflush(stdout);

    const int status = app.exec();

    if (!pathFile.isEmpty())
        QFile::remove(pathFile);
    link.remove();
    std::fprintf(stderr, "benchsim-board: %d values, %d bad frames\n", board.goodFrames(),
                 board.badFrames());
    return status;
}
