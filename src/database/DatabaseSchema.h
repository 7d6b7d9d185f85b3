#pragma once

#include <QString>

class QSqlDatabase;

// The tool's tables and views, in the schema "benchtest" of the lab's database, created
// and migrated by the tool itself: benchtest.migrations lists the versions applied. Any
// number of programs may connect at once; one applies what is missing, under a lock, in
// one transaction, and the others find it done. See docs/database.md.
class DatabaseSchema
{
public:
    // The version this build writes; a database at a later version is refused.
    static int currentVersion();

    // Applies the missing migrations, up to `upTo` (a database made by an older build,
    // for a test of the step to this one). False with `error` set on any failure, with
    // nothing of the failed migration left behind.
    [[nodiscard]] static bool migrate(QSqlDatabase &db, QString *error, int upTo = currentVersion());
    // The version the database is at; 0 for a database the tool has not touched.
    [[nodiscard]] static int version(QSqlDatabase &db);
};
