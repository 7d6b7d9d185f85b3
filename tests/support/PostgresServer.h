#pragma once

#include <QString>
#include <QTemporaryDir>

// A PostgreSQL 15 server of the test's own: a new cluster in a temporary folder (initdb),
// started with pg_ctl on a private loopback port, as "nobody" when the test runs as root
// (the server refuses to run as root). Stopped and removed with the object.
class PostgresServer
{
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // Creates the cluster and starts the server; false with error().
    [[nodiscard]] bool start();
    // Starts it again after stop() or kill(); waits for the server to take connections.
    [[nodiscard]] bool restart();
    // Kills the postmaster with SIGKILL, as a crash would: no shutdown, no checkpoint.
    void kill();
    void stop();
    // Stops (SIGSTOP) and continues the server and all its processes: a server that takes
    // connections and queries but answers nothing until resume().
    void pause();
    void resume();
    [[nodiscard]] bool isRunning() const;

    QString url() const; // postgresql://benchtest@127.0.0.1:<port>/benchtest
    quint16 port() const { return serverPort; }
    QString error() const { return failure; }

    // Runs an SQL statement with psql and returns its unaligned output (rows on lines,
    // fields separated by "|"), empty on failure.
    QString query(const QString &sql) const;

    // Whether the PostgreSQL 15 programs are installed.
    static bool isAvailable();

private:
    bool run(const QStringList &command, QString *output = nullptr) const;
    qint64 postmasterPid() const;
    void signalServer(int signal) const;

    QTemporaryDir folder;
    quint16 serverPort = 0;
    QString failure;
};
