#pragma once

#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// Runs the benchsim program for one test: free ports, a transcript in a
// temporary folder, the addresses read from its BENCHSIM line.
class BenchSimProcess
{
public:
    explicit BenchSimProcess(const QStringList &arguments = {});
    ~BenchSimProcess();

    // False (with the program's output in `error()`) when it did not come up.
    bool isRunning() const { return started; }
    QString error() const { return problem; }

    // An address by its key: "dmm", "dmm-vxi11", "pwr", "pwr-vxi11", "portmapper".
    QString address(const QString &key) const { return addresses.value(key); }
    quint16 rawPort(const QString &key) const;

    // The transcript lines of one instrument, without the key, still escaped.
    QStringList transcript(const QString &key) const;

    // Sends SIGTERM and waits; returns the exit code, -1 if it did not stop.
    int stop();
    QProcess &process() { return program; }

private:
    QTemporaryDir folder;
    QProcess program;
    QMap<QString, QString> addresses;
    bool started = false;
    QString problem;
};
