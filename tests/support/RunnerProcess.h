#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

// benchtest-run as a child process, as a script or a test executive runs
// it: to its end, or started, watched and signalled. `configFile` is the
// configuration file it reads (BENCHTEST_CONFIG); a missing one gives it no
// meter address of its own.
class RunnerProcess
{
public:
    struct Ended
    {
        int status = -1; // -1: it did not end by itself
        QByteArray out;
        QString err;
        qint64 ms = 0; // from its start to its exit
    };

    RunnerProcess(const QString &program, const QString &configFile);
    ~RunnerProcess();
    RunnerProcess(const RunnerProcess &) = delete;
    RunnerProcess &operator=(const RunnerProcess &) = delete;

    // Runs it to its end, for at most `timeoutMs`.
    Ended run(const QStringList &arguments, int timeoutMs = 60000);

    bool start(const QStringList &arguments);
    // Waits until `text` has appeared on standard output (else error).
    bool waitFor(const QByteArray &text, bool onError = false, int timeoutMs = 20000);
    void signal(int number);
    Ended finish(int timeoutMs = 30000);

private:
    void take();

    QString program;
    QProcess process;
    QElapsedTimer elapsed;
    QByteArray out;
    QByteArray err;
};
