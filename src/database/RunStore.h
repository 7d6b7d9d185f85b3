#pragma once

#include "database/JournalEntry.h"

#include <QList>
#include <QSqlQuery>
#include <QString>

#include <memory>

class QSqlDatabase;

// Stores journal entries: a run's record (its columns taken from the record) and its step
// rows, keyed by (run id, step). Storing an entry again changes nothing: rows already there
// stay as they are, and a start record never replaces the run's final record. Used on the
// thread of the connection it is given.
class RunStore
{
public:
    explicit RunStore(QSqlDatabase &db);
    ~RunStore();

    // Stores the entries in one transaction: all or none. False with `error` set.
    [[nodiscard]] bool store(const QList<JournalEntry> &entries, QString *error);

    // The run's record with its figures, as a run's start or end entry stores it.
    [[nodiscard]] bool storeRecord(const JournalEntry &entry, QString *error);

    struct RunState
    {
        bool known = false;
        bool ended = false; // the final record is stored
        qint64 rows = 0;    // step rows stored
    };
    [[nodiscard]] RunState state(const QString &runId, QString *error);

private:
    bool storeRows(const QString &runId, const QList<const DatabaseRow *> &rows, QString *error);

    QSqlDatabase &db;
    std::unique_ptr<QSqlQuery> recordQuery;
    std::unique_ptr<QSqlQuery> runQuery;
    std::unique_ptr<QSqlQuery> rowsQuery;
};
