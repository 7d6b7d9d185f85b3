#include "tests/support/SimulatorProcess.h"

#include <QFile>

#include <sys/prctl.h>

SimulatorProcess::SimulatorProcess(Program program, Timing timing)
    : program(program), timing(timing)
{}

SimulatorProcess::~SimulatorProcess()
{
    stop();
}

bool SimulatorProcess::start(const QStringList &arguments, bool transcript)
{
    const QString path = program == Program::BenchSim ? QStringLiteral(BENCHSIM_PROGRAM)
                                                      : QStringLiteral(BENCHSIM_BOARD_PROGRAM);
    QStringList all = arguments;
    if (program == Program::BenchSim && timing == Timing::Instant)
        all.prepend(QStringLiteral("--fast"));
    if (transcript)
        all << QStringLiteral("--transcript") << folder.filePath(QStringLiteral("transcript.txt"));
    // A test that crashes must not leave its simulators running.
    child.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    child.start(path, all);
    // A loaded machine (or a sanitizer build) may take a while to come up.
    while (!child.canReadLine() && child.waitForReadyRead(20000)) {
    }
    if (!child.canReadLine()) {
        child.waitForFinished(1000);
        failure = path + QStringLiteral(": no first line; ") +
                  QString::fromLocal8Bit(child.readAllStandardError()) + child.errorString();
        stop();
        return false;
    }
    line = QString::fromLocal8Bit(child.readLine()).trimmed();
    if (line.startsWith(QLatin1String("BENCHSIM "))) {
        for (const QString &field : line.split(QLatin1Char(' ')).mid(1))
            addresses.insert(field.section(QLatin1Char('='), 0, 0),
                             field.section(QLatin1Char('='), 1));
    }
    return true;
}

quint16 SimulatorProcess::rawPort(const QString &key) const
{
    return quint16(address(key).section(QLatin1String("::"), 2, 2).toUInt());
}

QStringList SimulatorProcess::transcript(const QString &key) const
{
    QFile file(folder.filePath(QStringLiteral("transcript.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    bytes.truncate(bytes.lastIndexOf('\n') + 1); // not a line still being written
    const QString prefix = key.isEmpty() ? QString() : key + QLatin1Char(' ');
    QStringList lines;
    for (const QString &text :
         QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (text.startsWith(prefix))
            lines << text.mid(prefix.size());
    }
    return lines;
}

int SimulatorProcess::stop(int signal)
{
    if (child.state() == QProcess::NotRunning)
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    ::kill(pid_t(child.processId()), signal);
    if (child.waitForFinished(10000))
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    child.kill();
    child.waitForFinished(5000);
    return -1;
}
