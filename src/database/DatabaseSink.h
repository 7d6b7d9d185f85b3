#pragma once

#include "database/DatabaseUrl.h"
#include "database/JournalEntry.h"

#include <QJsonObject>
#include <QString>

#include <memory>

// What the database has of a run, for its outcome and its record.
struct DatabaseResult
{
    bool complete = false; // the start, every row and the end of the run are stored
    qint64 rowsTaken = 0;  // rows the run handed over
    qint64 rowsStored = 0; // of them, stored in the database
    qint64 rowsLost = 0;   // neither stored nor journaled (both the server and the disk failed)
    QString journal;       // where the rows not stored wait for a sync; empty when none is left
    QString error;         // the last failure, for people

    [[nodiscard]] qint64 rowsPending() const { return rowsTaken - rowsStored; }
    // One line for people: "stored whole in postgresql://…", "12 rows pending in …".
    [[nodiscard]] QString summary() const;
    [[nodiscard]] QJsonObject toJson() const;
};

struct DatabaseSinkOptions
{
    qsizetype queueCapacity = 1 << 16;  // entries waiting for the journal thread
    qsizetype memoryCapacity = 1 << 16; // entries kept for the server when the journal fails
    int batchRows = 500;                // rows per transaction
    int retryMs = 250;                  // first wait before the server is tried again
    int maxRetryMs = 2000;
    QString bench; // the bench's name for the run's record; empty: the host name
};

// Sends one run to the database without ever holding the run up. The calls are the run's
// own: they queue the entry (a bounded queue; a full queue loses the entry and says so) and
// return at once. A journal thread appends every entry to the run's journal beside its
// result file and syncs it in batches; a sender thread stores what is journaled (or, when
// the journal cannot be written, what it kept in memory) in batches, and when the server is
// down or slow goes on trying, from where the server last confirmed. Entries are stored
// idempotently, so a batch sent twice is stored once. Once the database has the whole run
// the journal is deleted; otherwise it stays for `benchtest-report --sync`.
class DatabaseSink
{
public:
    explicit DatabaseSink(const DatabaseUrl &url, DatabaseSinkOptions options = {});
    // Finishes the journal (synced to disk) and stops sending, even mid-call.
    ~DatabaseSink();
    DatabaseSink(const DatabaseSink &) = delete;
    DatabaseSink &operator=(const DatabaseSink &) = delete;

    // The run's record at its start; its "resultFile" places the journal.
    void runStarted(const QString &runId, const QJsonObject &record);
    void rowCompleted(const DatabaseRow &row);
    // The run's final record.
    void runEnded(const QJsonObject &record);

    [[nodiscard]] DatabaseResult result() const;
    // Waits until the database has the whole run, or the server failed to take what was
    // left after the end, or `timeoutMs` passed, and says how it stands.
    DatabaseResult waitUntilSettled(int timeoutMs);

private:
    class Worker;
    std::unique_ptr<Worker> worker;
};
