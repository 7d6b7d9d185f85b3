#include "database/DatabaseSink.h"

#include "database/DatabaseConnection.h"
#include "database/JournalFile.h"
#include "database/RunFigures.h"
#include "database/RunStore.h"

#include <QHostInfo>
#include <QLoggingCategory>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

Q_LOGGING_CATEGORY(lcDatabase, "benchtest.database")

class DatabaseSink::Worker
{
public:
    Worker(const DatabaseUrl &url, DatabaseSinkOptions options);
    ~Worker();

    void enqueue(JournalEntry entry);
    DatabaseResult result() const;
    DatabaseResult waitUntilSettled(int timeoutMs);
    void setSettledHandler(std::function<void(const DatabaseResult &)> handler);

private:
    void journalLoop();
    void prepare(JournalEntry &entry);
    void senderLoop();
    bool sendSome(DatabaseConnection &connection, std::unique_ptr<RunStore> &store);
    bool verify(RunStore &store);
    bool isSettled() const;
    // With the mutex held, wherever the settled state may have changed.
    void tellSettled();
    DatabaseResult resultLocked() const;

    const DatabaseUrl url;
    const DatabaseSinkOptions options;

    mutable std::mutex mutex;
    std::condition_variable journalWake;
    std::condition_variable senderWake;
    std::condition_variable settledWake;

    // Handed from the run to the journal thread.
    std::deque<JournalEntry> queue;
    bool stopJournal = false;
    bool stopSender = false;
    QString runId;
    qint64 rowsTaken = 0;
    qint64 rowsLost = 0;
    bool endTaken = false;
    bool endLost = false;

    // The journal thread's; the sender reads whole lines up to `journaled`.
    JournalFile journal;
    RunFigures figures;
    qint64 journaled = 0;
    std::deque<JournalEntry> unjournaled; // entries the journal could not take
    QString journalPath;
    bool journalOpen = false; // as the journal thread last saw it

    // The sender's.
    DatabaseConnection *liveConnection = nullptr;
    qint64 sentOffset = 0;
    qint64 rowsSent = 0;
    bool endStored = false;
    bool verified = false;
    bool complete = false;
    qint64 rowsConfirmed = 0;
    bool failedSinceEnd = false;
    bool outage = false;
    QString lastError;

    std::function<void(const DatabaseResult &)> settledHandler;
    // What the handler was told last.
    bool settledTold = false;
    bool completeTold = false;

    std::thread journalThread;
    std::thread senderThread;
};

DatabaseSink::Worker::Worker(const DatabaseUrl &url, DatabaseSinkOptions options)
    : url(url), options(std::move(options))
{
    journalThread = std::thread([this] { journalLoop(); });
    senderThread = std::thread([this] { senderLoop(); });
}

DatabaseSink::Worker::~Worker()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopJournal = true;
    }
    journalWake.notify_all();
    journalThread.join();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopSender = true;
        if (liveConnection)
            liveConnection->abort();
    }
    senderWake.notify_all();
    senderThread.join();
    if (complete && journal.isOpen())
        (void)journal.remove();
}

void DatabaseSink::Worker::enqueue(JournalEntry entry)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (entry.kind == JournalEntry::Start)
            runId = entry.runId;
        entry.runId = runId;
        if (entry.kind == JournalEntry::Row)
            ++rowsTaken;
        if (entry.kind == JournalEntry::End)
            endTaken = true;
        if (queue.size() >= size_t(options.queueCapacity)) {
            // The disk has stopped taking the journal for a long while: the run goes on.
            if (entry.kind == JournalEntry::Row)
                ++rowsLost;
            else if (entry.kind == JournalEntry::End)
                endLost = true;
            tellSettled();
            return;
        }
        queue.push_back(std::move(entry));
    }
    journalWake.notify_one();
}

// What the journal and the database keep of an entry besides what the run said: the bench,
// the run's id in its record, and at the end the figures of all its rows.
void DatabaseSink::Worker::prepare(JournalEntry &entry)
{
    if (entry.kind == JournalEntry::Row) {
        figures.add(entry.row.code, entry.row.cells);
        return;
    }
    if (!entry.record.contains(QStringLiteral("bench")))
        entry.record.insert(QStringLiteral("bench"),
                            options.bench.isEmpty() ? QHostInfo::localHostName() : options.bench);
    std::optional<RunRecord> record = RunRecord::fromJson(entry.record);
    if (record && record->runId.isEmpty()) {
        record->runId = entry.runId;
        entry.record = record->toJson();
    }
    if (entry.kind == JournalEntry::End)
        entry.figures = figures.toJson();
    if (entry.kind == JournalEntry::Start && !journal.isOpen()) {
        const QString resultFile = record ? record->resultFile : QString();
        if (!resultFile.isEmpty() && !journal.open(JournalFile::pathFor(resultFile)))
            qCWarning(lcDatabase).noquote()
                << QStringLiteral("database: no journal: %1").arg(journal.error());
    }
}

void DatabaseSink::Worker::journalLoop()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
        journalWake.wait(lock, [this] {
            return !queue.empty() || stopJournal || (complete && journal.isOpen());
        });
        if (queue.empty()) {
            if (complete && journal.isOpen()) {
                lock.unlock();
                (void)journal.remove();
                lock.lock();
                journalPath.clear();
                journalOpen = false;
                tellSettled();
            }
            if (stopJournal)
                return;
            continue;
        }
        std::deque<JournalEntry> taken;
        taken.swap(queue);
        lock.unlock();

        QByteArray lines;
        for (JournalEntry &entry : taken) {
            prepare(entry);
            lines += entry.toLine();
            lines += '\n';
        }
        const bool written = journal.isOpen() && journal.append(lines);
        const bool synced = written && journal.sync();
        if (written && !synced)
            qCWarning(lcDatabase).noquote() << QStringLiteral("database: %1").arg(journal.error());

        lock.lock();
        journalOpen = journal.isOpen();
        if (journalOpen)
            journalPath = journal.path();
        if (written) {
            journaled = journal.size();
        } else {
            // Kept for the server as long as there is room.
            for (JournalEntry &entry : taken) {
                if (unjournaled.size() < size_t(options.memoryCapacity)) {
                    unjournaled.push_back(std::move(entry));
                } else if (entry.kind == JournalEntry::Row) {
                    ++rowsLost;
                } else if (entry.kind == JournalEntry::End) {
                    endLost = true;
                }
            }
            tellSettled();
        }
        senderWake.notify_one();
    }
}

void DatabaseSink::Worker::senderLoop()
{
    DatabaseConnection connection(url);
    std::unique_ptr<RunStore> store;
    int retryMs = options.retryMs;
    std::unique_lock<std::mutex> lock(mutex);
    liveConnection = &connection;
    while (!stopSender) {
        const bool pending = !unjournaled.empty() || journaled > sentOffset;
        const bool toVerify = endStored && !verified && !pending;
        if (!pending && !toVerify) {
            senderWake.wait(lock);
            continue;
        }
        lock.unlock();
        bool ok = connection.isOpen();
        if (!ok) {
            store.reset();
            ok = connection.open();
            if (ok)
                store = std::make_unique<RunStore>(connection.database());
        }
        if (ok)
            ok = toVerify ? verify(*store) : sendSome(connection, store);
        lock.lock();
        if (ok) {
            if (outage)
                qCInfo(lcDatabase).noquote()
                    << QStringLiteral("database: storing in %1 again").arg(url.displayText());
            outage = false;
            retryMs = options.retryMs;
            continue;
        }
        lastError = connection.error();
        if (!outage)
            qCWarning(lcDatabase).noquote()
                << QStringLiteral("database: cannot store in %1: %2; the run's rows wait in %3")
                       .arg(url.displayText(), lastError,
                            journalPath.isEmpty() ? QStringLiteral("memory") : journalPath);
        outage = true;
        if (endTaken && queue.empty())
            failedSinceEnd = true;
        tellSettled();
        lock.unlock();
        store.reset();
        connection.close();
        lock.lock();
        senderWake.wait_for(lock, std::chrono::milliseconds(retryMs),
                            [this] { return stopSender; });
        retryMs = qMin(retryMs * 2, options.maxRetryMs);
    }
    liveConnection = nullptr;
    lock.unlock();
    store.reset();
}

bool DatabaseSink::Worker::sendSome(DatabaseConnection &connection,
                                    std::unique_ptr<RunStore> &store)
{
    QList<JournalEntry> batch;
    qint64 from = 0;
    qint64 to = 0;
    size_t fromMemory = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const JournalEntry &entry : unjournaled) {
            if (batch.size() >= options.batchRows)
                break;
            batch.append(entry);
        }
        fromMemory = size_t(batch.size());
        from = sentOffset;
        to = journaled;
    }
    qint64 next = from;
    if (batch.size() < options.batchRows && to > from) {
        const QByteArray lines = journal.readLines(from, to, 1 << 18);
        qsizetype start = 0;
        while (start < lines.size() && batch.size() < options.batchRows) {
            const qsizetype end = lines.indexOf('\n', start);
            JournalEntry entry;
            if (JournalEntry::fromLine(QByteArrayView(lines).sliced(start, end - start), &entry))
                batch.append(std::move(entry));
            start = end + 1;
        }
        next = from + start;
    }
    QString error;
    if (!store->store(batch, &error)) {
        connection.setError(error);
        return false;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    unjournaled.erase(unjournaled.begin(), unjournaled.begin() + qsizetype(fromMemory));
    sentOffset = next;
    for (const JournalEntry &entry : batch) {
        if (entry.kind == JournalEntry::Row)
            ++rowsSent;
        else if (entry.kind == JournalEntry::End)
            endStored = true;
    }
    return true;
}

// Counts what the database holds of the run once its end is stored: the count there is
// the truth, whatever was sent twice on the way.
bool DatabaseSink::Worker::verify(RunStore &store)
{
    QString id;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        id = runId;
    }
    QString error;
    const RunStore::RunState state = store.state(id, &error);
    if (!error.isEmpty())
        return false;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        verified = true;
        rowsConfirmed = state.rows;
        complete = state.ended && !endLost && rowsLost == 0 && state.rows >= rowsTaken;
        tellSettled();
    }
    journalWake.notify_one();
    return true;
}

bool DatabaseSink::Worker::isSettled() const
{
    // A run stored whole is settled once its journal is gone too.
    return (verified && !(complete && journalOpen)) || endLost || (endTaken && failedSinceEnd);
}

void DatabaseSink::Worker::tellSettled()
{
    settledWake.notify_all();
    if (!settledHandler || !isSettled() || (settledTold && completeTold == complete))
        return;
    settledTold = true;
    completeTold = complete;
    settledHandler(resultLocked());
}

DatabaseResult DatabaseSink::Worker::resultLocked() const
{
    DatabaseResult result;
    result.url = url.displayText();
    result.complete = complete;
    result.rowsTaken = rowsTaken;
    result.rowsStored = verified ? qMin(rowsConfirmed, rowsTaken) : qMin(rowsSent, rowsTaken);
    result.rowsLost = rowsLost;
    result.journal = complete ? QString() : journalPath;
    result.error = complete ? QString() : lastError;
    return result;
}

DatabaseResult DatabaseSink::Worker::result() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return resultLocked();
}

void DatabaseSink::Worker::setSettledHandler(std::function<void(const DatabaseResult &)> handler)
{
    const std::lock_guard<std::mutex> lock(mutex);
    settledHandler = std::move(handler);
    settledTold = false;
    tellSettled();
}

DatabaseResult DatabaseSink::Worker::waitUntilSettled(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    settledWake.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return isSettled(); });
    return resultLocked();
}

DatabaseSink::DatabaseSink(const DatabaseUrl &url, DatabaseSinkOptions options)
    : worker(std::make_unique<Worker>(url, std::move(options)))
{}

DatabaseSink::~DatabaseSink() = default;

void DatabaseSink::runStarted(const QString &runId, const QJsonObject &record)
{
    JournalEntry entry;
    entry.kind = JournalEntry::Start;
    entry.runId = runId;
    entry.record = record;
    worker->enqueue(std::move(entry));
}

void DatabaseSink::rowCompleted(const DatabaseRow &row)
{
    JournalEntry entry;
    entry.kind = JournalEntry::Row;
    entry.row = row;
    worker->enqueue(std::move(entry));
}

void DatabaseSink::runEnded(const QJsonObject &record)
{
    JournalEntry entry;
    entry.kind = JournalEntry::End;
    entry.record = record;
    worker->enqueue(std::move(entry));
}

DatabaseResult DatabaseSink::result() const
{
    return worker->result();
}

DatabaseResult DatabaseSink::waitUntilSettled(int timeoutMs)
{
    return worker->waitUntilSettled(timeoutMs);
}

void DatabaseSink::onSettled(std::function<void(const DatabaseResult &)> handler)
{
    worker->setSettledHandler(std::move(handler));
}
