#include "tests/support/PostgresServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
const QString kUser = QStringLiteral("benchtest");

bool isRoot()
{
    return ::geteuid() == 0;
}

// A port nobody listens on just now.
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

PostgresServer::PostgresServer() = default;

PostgresServer::~PostgresServer()
{
    stop();
}

bool PostgresServer::isAvailable()
{
    return QFileInfo(kBin + "initdb").isExecutable() && QFileInfo(kBin + "pg_ctl").isExecutable();
}

// As root, every program runs as nobody, who owns the folder.
bool PostgresServer::run(const QStringList &command, QString *output) const
{
    QStringList arguments = command;
    QString program = arguments.takeFirst();
    if (isRoot()) {
        arguments = QStringList{"-u", "nobody", "--", program} + arguments;
        program = QStringLiteral("runuser");
    }
    QProcess process;
    process.setWorkingDirectory(folder.path());
    process.start(program, arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const_cast<PostgresServer *>(this)->failure =
            command.join(QLatin1Char(' ')) + QStringLiteral(": ") +
            QString::fromUtf8(process.readAllStandardError()).trimmed();
        return false;
    }
    return true;
}

bool PostgresServer::start()
{
    if (!isAvailable()) {
        failure = QStringLiteral("PostgreSQL 15 is not installed (%1)").arg(kBin);
        return false;
    }
    if (!folder.isValid()) {
        failure = QStringLiteral("no temporary folder");
        return false;
    }
    if (isRoot() && ::chown(QFile::encodeName(folder.path()).constData(), 65534, 65534) != 0) {
        failure = QStringLiteral("cannot hand %1 to nobody").arg(folder.path());
        return false;
    }
    ::chmod(QFile::encodeName(folder.path()).constData(), 0700);
    const QString data = folder.filePath(QStringLiteral("data"));
    if (!run({kBin + "initdb", "-D", data, "-U", kUser, "--auth=trust", "-E", "UTF8",
              "--locale=C.UTF-8", "--no-sync"}))
        return false;
    if (!restart())
        return false;
    return run({kBin + "createdb", "-h", "127.0.0.1", "-p", QString::number(serverPort), "-U",
                kUser, kUser});
}

bool PostgresServer::restart()
{
    const QString data = folder.filePath(QStringLiteral("data"));
    if (serverPort == 0)
        serverPort = freePort();
    // After a kill the old server's backends may still hold its shared memory for a moment.
    const QDeadlineTimer deadline(60000);
    while (true) {
        // The data lives in a temporary folder: a crash of the machine is not the test's
        // fault to survive, a crash of the server is (its WAL still reaches the files).
        if (run({kBin + "pg_ctl", "-D", data, "-l", folder.filePath("server.log"), "-w", "-t", "60",
                 "-o",
                 QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off "
                                "-c max_connections=60")
                     .arg(serverPort)
                     .arg(folder.path()),
                 "start"}))
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(200);
    }
}

qint64 PostgresServer::postmasterPid() const
{
    QFile pidFile(folder.filePath(QStringLiteral("data/postmaster.pid")));
    if (!pidFile.open(QIODevice::ReadOnly))
        return 0;
    return pidFile.readLine().trimmed().toLongLong();
}

bool PostgresServer::isRunning() const
{
    const qint64 pid = postmasterPid();
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

void PostgresServer::kill()
{
    const qint64 pid = postmasterPid();
    if (pid <= 0)
        return;
    ::kill(pid_t(pid), SIGKILL);
    // Gone once the pid no longer answers.
    const QDeadlineTimer deadline(10000);
    while (::kill(pid_t(pid), 0) == 0 && !deadline.hasExpired())
        QThread::msleep(20);
}

// The postmaster and its children, each of which is a session of its own (so no process
// group holds them all).
void PostgresServer::signalServer(int signal) const
{
    const qint64 postmaster = postmasterPid();
    if (postmaster <= 0)
        return;
    ::kill(pid_t(postmaster), signal);
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid …"; the name may hold blanks and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == postmaster)
            ::kill(pid_t(entry.toLongLong()), signal);
    }
}

void PostgresServer::pause()
{
    signalServer(SIGSTOP);
}

void PostgresServer::resume()
{
    signalServer(SIGCONT);
}

void PostgresServer::stop()
{
    if (!isRunning())
        return;
    (void)run({kBin + "pg_ctl", "-D", folder.filePath("data"), "-m", "immediate", "-w", "stop"});
}

QString PostgresServer::url() const
{
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/%1").arg(kUser).arg(serverPort);
}

QString PostgresServer::query(const QString &sql) const
{
    QString output;
    if (!run({"/usr/bin/psql", "-X", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
              QString::number(serverPort), "-U", kUser, "-c", sql, kUser},
             &output))
        return QString();
    return output.trimmed();
}
