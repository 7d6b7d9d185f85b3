#include "database/DatabaseConnection.h"

#include "database/DatabaseSchema.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QUuid>
#include <QVariant>

#include <libpq-fe.h>
#include <sys/socket.h>

DatabaseConnection::DatabaseConnection(const DatabaseUrl &url)
    : url(url), name(QStringLiteral("benchtest-") + QUuid::createUuid().toString(QUuid::Id128))
{}

DatabaseConnection::~DatabaseConnection()
{
    close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

bool DatabaseConnection::open()
{
    close();
    if (!db.isValid()) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        if (!db.isValid()) {
            lastError = QStringLiteral("the PostgreSQL driver of Qt SQL (QPSQL) is not installed");
            return false;
        }
    }
    db.setHostName(url.host);
    db.setPort(url.port);
    db.setUserName(url.user);
    db.setPassword(url.password);
    db.setDatabaseName(url.database);
    // A server that is gone must be noticed within seconds, not at the kernel's
    // TCP timeout: connect timeout and keepalives on every connection.
    QStringList options = {
        QStringLiteral("connect_timeout=5"),  QStringLiteral("keepalives=1"),
        QStringLiteral("keepalives_idle=5"),  QStringLiteral("keepalives_interval=2"),
        QStringLiteral("keepalives_count=3"), QStringLiteral("application_name=benchtest")};
    options += url.options;
    db.setConnectOptions(options.join(QLatin1Char(';')));
    if (!db.open()) {
        lastError = db.lastError().text().trimmed();
        return false;
    }
    {
        const std::lock_guard<std::mutex> lock(socketMutex);
        socket = PQsocket(static_cast<PGconn *>(nativeHandle()));
    }
    QString schemaError;
    if (!DatabaseSchema::migrate(db, &schemaError)) {
        lastError = schemaError;
        close();
        return false;
    }
    lastError.clear();
    return true;
}

void DatabaseConnection::close()
{
    {
        const std::lock_guard<std::mutex> lock(socketMutex);
        socket = -1;
    }
    if (db.isValid())
        db.close();
}

void DatabaseConnection::abort()
{
    const std::lock_guard<std::mutex> lock(socketMutex);
    if (socket >= 0)
        ::shutdown(socket, SHUT_RDWR);
}

void *DatabaseConnection::nativeHandle() const
{
    if (!db.isOpen())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    // The driver's handle is its PGconn pointer (libpq's struct pg_conn).
    const QByteArray type = QByteArray(handle.typeName()).replace(' ', "");
    if (!handle.isValid() || (type != "PGconn*" && type != "pg_conn*"))
        return nullptr;
    return *static_cast<PGconn *const *>(handle.constData());
}
