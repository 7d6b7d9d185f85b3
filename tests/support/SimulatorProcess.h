#pragma once

#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>

// One simulator program as a child process, for a test or a benchmark:
// benchsim, or benchsim-board alone. start() returns once the program has
// printed its first line (benchsim: "BENCHSIM dmm=... board=...", see
// benchsim --help; benchsim-board: the device path). The destructor stops it.
// benchsim answers at once (--fast) unless a test asks for the meter's real
// integration times.
class SimulatorProcess
{
public:
    enum class Program
    {
        BenchSim,
        Board
    };

    enum class Timing
    {
        Instant,  // --fast
        Realistic // readings take their integration time
    };

    explicit SimulatorProcess(Program program = Program::BenchSim, Timing timing = Timing::Instant);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    // Starts the program with `arguments`, plus a transcript in a temporary
    // folder unless `transcript` is false. False when no first line came;
    // error() then holds the program's error output.
    bool start(const QStringList &arguments = {}, bool transcript = true);
    QString error() const { return failure; }

    QString firstLine() const { return line; }
    // A benchsim address by its key: "dmm", "dmm-vxi11", "dmm-hislip", "pwr",
    // "pwr-vxi11", "pwr-hislip", "portmapper", "board".
    QString address(const QString &key) const { return addresses.value(key); }
    // The port of a raw SOCKET address.
    quint16 rawPort(const QString &key) const;

    // The complete transcript lines that start with `key` and a blank,
    // without them; every line for an empty key.
    QStringList transcript(const QString &key = QString()) const;

    // Sends `signal` and waits: the exit code, or -1 when the program did not
    // end by itself with a normal exit.
    int stop(int signal = SIGTERM);
    QProcess &process() { return child; }

private:
    Program program;
    Timing timing;
    QTemporaryDir folder;
    QProcess child;
    QString line;
    QMap<QString, QString> addresses;
    QString failure;
};
