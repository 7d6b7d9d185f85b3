#include "SimulatorProcess.h"

SimulatorProcess::~SimulatorProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(1000);
        }
    }
}

bool SimulatorProcess::start(const QStringList &extraArguments)
{
    process.setProgram(QStringLiteral(BENCHSIM_PROGRAM));
    process.setArguments(QStringList{"--dmm", "--board"} + extraArguments);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    if (!process.waitForStarted(5000)) {
        failure = process.program() + QStringLiteral(": ") + process.errorString();
        return false;
    }
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(5000)) {
            failure = process.program() + QStringLiteral(": no address line");
            return false;
        }
    }
    const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
    for (const QString &field : line.split(QLatin1Char(' '))) {
        if (field.startsWith(QLatin1String("dmm=")))
            meter = field.mid(4);
        else if (field.startsWith(QLatin1String("board=")))
            board = field.mid(6);
    }
    if (meter.isEmpty() || board.isEmpty()) {
        failure = QStringLiteral("unexpected address line: ") + line;
        return false;
    }
    return true;
}
