#pragma once

#include "database/DatabaseUrl.h"

#include <QSqlDatabase>
#include <QString>

#include <mutex>

// One connection to the server, opened and used on one thread (Qt SQL's rule), and
// brought to the current schema when it opens. abort() may be called from any thread:
// it cuts the connection's socket, so that a call blocked on a server that stopped
// answering returns at once with an error.
class DatabaseConnection
{
public:
    explicit DatabaseConnection(const DatabaseUrl &url);
    ~DatabaseConnection();
    DatabaseConnection(const DatabaseConnection &) = delete;
    DatabaseConnection &operator=(const DatabaseConnection &) = delete;

    // Opens the connection (closing a previous one) and migrates the schema. False with
    // error() set when the server cannot be reached or refuses.
    [[nodiscard]] bool open();
    void close();
    [[nodiscard]] bool isOpen() const { return db.isOpen(); }
    void abort();

    QSqlDatabase &database() { return db; }
    QString error() const { return lastError; }
    void setError(const QString &error) { lastError = error; }
    // The libpq connection under the driver, for COPY; null while closed.
    void *nativeHandle() const;

private:
    DatabaseUrl url;
    QString name;
    QSqlDatabase db;
    QString lastError;
    std::mutex socketMutex; // the socket abort() cuts, against close() and open()
    int socket = -1;
};
