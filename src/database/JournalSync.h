#pragma once

#include "database/DatabaseUrl.h"

#include <QList>
#include <QString>

class DatabaseConnection;

// Sends the journals of runs whose rows did not all reach the database: every
// "*.dbjournal" of a folder, entry by entry (stored once however often they are sent), and
// deletes each journal whose entries the database then has in full. A journal that a
// running program still writes is left alone.
class JournalSync
{
public:
    struct Outcome
    {
        QString journal;
        QString runId;
        qint64 rows = 0;       // row entries in the journal
        qint64 rowsStored = 0; // the database's count for the run after the sync
        bool ended = false;    // the journal holds the run's end
        bool removed = false;  // everything is stored: the journal is gone
        QString error;         // empty when the journal was sent
    };

    // One outcome per journal, in name order.
    [[nodiscard]] static QList<Outcome> syncFolder(DatabaseConnection &connection,
                                                   const QString &folder);
    [[nodiscard]] static Outcome syncJournal(DatabaseConnection &connection, const QString &path);
};
