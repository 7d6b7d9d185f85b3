#pragma once

#include "database/DatabaseUrl.h"
#include "database/JournalEntry.h"
#include "record/RunRecord.h"

#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>

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
    // Has `handler` called, on one of the sink's threads and with its lock held (so it must
    // only hand the result on, never call the sink), once the sink has settled after the
    // run's end, and again should the database get the whole run later.
    void onSettled(std::function<void(const DatabaseResult &)> handler);

private:
    class Worker;
    std::unique_ptr<Worker> worker;
};
