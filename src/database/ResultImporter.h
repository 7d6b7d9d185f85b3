#pragma once

#include <QString>
#include <QStringList>

class DatabaseConnection;

// Loads result files written before (and their records, "<name>.json") into the database,
// the rows in bulk with COPY: one transaction per file, so a file is stored whole or not at
// all. Each run of a file is known by an id that does not change between imports: its
// record's "runId" when the record names the file, else one derived from the file's content
// and the run's place in it. A run already stored keeps what it has and gains only the rows
// it lacks, so a file imported twice is stored once.
class ResultImporter
{
public:
    struct Outcome
    {
        QString file;
        int runs = 0;         // runs in the file
        int runsAdded = 0;    // of them new to the database
        qint64 rows = 0;      // step rows read
        qint64 rowsAdded = 0; // of them new to the database
        QStringList warnings;
        QString error; // empty when the file was imported
    };

    explicit ResultImporter(DatabaseConnection &connection);

    [[nodiscard]] Outcome importFile(const QString &path);

    // The id of run `index` (1-based) of a file whose content has this SHA-1.
    static QString derivedRunId(const QByteArray &contentSha1, int index);

private:
    DatabaseConnection &connection;
};
