#include "database/JournalSync.h"

#include "database/DatabaseConnection.h"
#include "database/JournalFile.h"
#include "database/RunStore.h"

#include <QDir>
#include <QSet>

namespace {

constexpr int kBatchEntries = 1000;

} // namespace

QList<JournalSync::Outcome> JournalSync::syncFolder(DatabaseConnection &connection,
                                                    const QString &folder)
{
    QList<Outcome> outcomes;
    const QDir dir(folder);
    for (const QString &name :
         dir.entryList({QStringLiteral("*.dbjournal")}, QDir::Files, QDir::Name))
        outcomes.append(syncJournal(connection, dir.filePath(name)));
    return outcomes;
}

JournalSync::Outcome JournalSync::syncJournal(DatabaseConnection &connection, const QString &path)
{
    Outcome outcome;
    outcome.journal = path;
    JournalFile journal;
    if (!journal.openExisting(path)) {
        outcome.error = journal.error();
        return outcome;
    }
    RunStore store(connection.database());
    QSet<qint64> steps;
    QList<JournalEntry> batch;
    const auto flush = [&] {
        if (batch.isEmpty() || outcome.error.size())
            return;
        if (!store.store(batch, &outcome.error))
            return;
        batch.clear();
    };
    for (qint64 offset = 0; offset < journal.size() && outcome.error.isEmpty();) {
        const QByteArray lines = journal.readLines(offset, journal.size(), 1 << 20);
        if (lines.isEmpty())
            break;
        for (qsizetype start = 0; start < lines.size();) {
            const qsizetype end = lines.indexOf('\n', start);
            JournalEntry entry;
            // Only a crash's last line can be cut; it holds nothing whole.
            if (JournalEntry::fromLine(QByteArrayView(lines).sliced(start, end - start), &entry)) {
                outcome.runId = entry.runId;
                if (entry.kind == JournalEntry::Row)
                    steps.insert(entry.row.step);
                outcome.ended = outcome.ended || entry.kind == JournalEntry::End;
                batch.append(std::move(entry));
                if (batch.size() >= kBatchEntries)
                    flush();
            }
            start = end + 1;
        }
        offset += lines.size();
    }
    flush();
    outcome.rows = steps.size();
    if (!outcome.error.isEmpty() || outcome.runId.isEmpty())
        return outcome;
    const RunStore::RunState state = store.state(outcome.runId, &outcome.error);
    outcome.rowsStored = state.rows;
    // Everything the journal holds is stored: it has nothing more to give.
    if (outcome.error.isEmpty() && state.rows >= outcome.rows && (state.ended || !outcome.ended))
        outcome.removed = journal.remove();
    return outcome;
}
