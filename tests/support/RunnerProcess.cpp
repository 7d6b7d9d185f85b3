#include "tests/support/RunnerProcess.h"

#include <QDeadlineTimer>

#include <csignal>

RunnerProcess::RunnerProcess(const QString &program, const QString &configFile) : program(program)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BENCHTEST_CONFIG"), configFile);
    process.setProcessEnvironment(environment);
}

RunnerProcess::~RunnerProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

RunnerProcess::Ended RunnerProcess::run(const QStringList &arguments, int timeoutMs)
{
    if (!start(arguments))
        return Ended();
    return finish(timeoutMs);
}

bool RunnerProcess::start(const QStringList &arguments)
{
    out.clear();
    err.clear();
    elapsed.start();
    process.start(program, arguments);
    return process.waitForStarted(10000);
}

void RunnerProcess::take()
{
    out += process.readAllStandardOutput();
    err += process.readAllStandardError();
}

bool RunnerProcess::waitFor(const QByteArray &text, bool onError, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        take();
        if ((onError ? err : out).contains(text))
            return true;
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)));
    }
}

void RunnerProcess::signal(int number)
{
    ::kill(pid_t(process.processId()), number);
}

RunnerProcess::Ended RunnerProcess::finish(int timeoutMs)
{
    Ended ended;
    const bool exited = process.waitForFinished(timeoutMs);
    if (!exited) {
        process.kill();
        process.waitForFinished(5000);
    }
    take();
    ended.ms = elapsed.elapsed();
    ended.out = out;
    ended.err = QString::fromLocal8Bit(err);
    if (exited && process.exitStatus() == QProcess::NormalExit)
        ended.status = process.exitCode();
    return ended;
}
