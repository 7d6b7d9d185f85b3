#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// benchsim with --board: the simulated multimeter on a loopback SOCKET
// resource and the board on a pseudo-terminal, in one child process that
// answers at once (no response delay).
class SimulatorProcess
{
public:
    SimulatorProcess() = default;
    ~SimulatorProcess();

    bool start(const QStringList &extraArguments = {});
    QString error() const { return failure; }
    QString meterResource() const { return meter; }
    QString boardPath() const { return board; }

private:
    QProcess process;
    QString meter;
    QString board;
    QString failure;
};
