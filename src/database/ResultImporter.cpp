#include "database/ResultImporter.h"

#include "database/DatabaseConnection.h"
#include "database/RunFigures.h"
#include "database/RunStore.h"
#include "record/RunRecord.h"
#include "report/ResultFileReader.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringDecoder>
#include <QUuid>
#include <QtEndian>

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The record beside a result file, in its JSON form; empty when there is none.
QJsonObject recordBeside(const QString &path)
{
    const std::optional<RunRecord> record = RunRecord::readBeside(path);
    return record ? record->toJson() : QJsonObject();
}

// Derived run ids live in a namespace of their own (UUID version 5).
const QUuid kImportNamespace(QStringLiteral("{6b2f4f7e-2d1a-4c55-9a43-8c3c1f0e9b21}"));

// Rows in PostgreSQL's binary COPY format, sent in chunks on the connection's own socket:
// the server takes numbers, texts and arrays as they are, without parsing text.
class CopyStream
{
public:
    explicit CopyStream(PGconn *conn) : conn(conn) {}

    bool begin(const char *sql, QString *error)
    {
        PGresult *result = PQexec(conn, sql);
        const bool ok = PQresultStatus(result) == PGRES_COPY_IN;
        if (!ok)
            *error = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        PQclear(result);
        open = ok;
        failed = false;
        buffer.assign("PGCOPY\n\377\r\n\0", 11);
        appendInt32(0); // flags
        appendInt32(0); // header extension
        return ok;
    }

    bool isOpen() const { return open; }
    void beginRow(qint16 fields) { appendInt16(fields); }
    void endRow()
    {
        if (buffer.size() >= (1 << 16))
            flush();
    }

    void int64Field(qint64 value)
    {
        appendInt32(8);
        appendInt64(value);
    }
    void int32Field(qint32 value)
    {
        appendInt32(4);
        appendInt32(value);
    }
    void boolField(bool value)
    {
        appendInt32(1);
        buffer.push_back(value ? '\1' : '\0');
    }
    void textField(std::string_view text)
    {
        appendInt32(qint32(text.size()));
        buffer.append(text);
    }
    // bigint[]: dimensions, no nulls, element type int8 (20), then each element.
    void int64ArrayField(const std::vector<qint64> &values)
    {
        appendInt32(values.empty() ? 12 : qint32(20 + 12 * values.size()));
        appendArrayHeader(values.size(), 20);
        for (const qint64 value : values)
            int64Field(value);
    }
    // text[] of reading cells, each as UTF-8.
    void cellArrayField(const std::vector<QByteArrayView> &cells)
    {
        qint64 length = cells.empty() ? 12 : 20;
        for (QByteArrayView cell : cells)
            length += 4 + utf8(cell).size();
        appendInt32(qint32(length));
        appendArrayHeader(cells.size(), 25);
        for (QByteArrayView cell : cells) {
            const QByteArrayView text = utf8(cell);
            appendInt32(qint32(text.size()));
            buffer.append(text.data(), size_t(text.size()));
        }
    }

    // Ends the COPY; false with `error` when the server refused any of it.
    bool end(QString *error)
    {
        if (!open)
            return true;
        open = false;
        appendInt16(-1);
        flush();
        bool ok = !failed && PQputCopyEnd(conn, nullptr) == 1;
        while (PGresult *result = PQgetResult(conn)) {
            ok = ok && PQresultStatus(result) == PGRES_COMMAND_OK;
            PQclear(result);
        }
        if (!ok)
            *error = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        return ok;
    }

    // The database holds UTF-8; a cell of a file in a local 8-bit encoding keeps its bytes
    // as Latin-1 characters. The view is valid until the next call.
    QByteArrayView utf8(QByteArrayView cell)
    {
        if (std::all_of(cell.begin(), cell.end(), [](char c) { return uchar(c) < 0x80; }))
            return cell;
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString decoded = decoder(cell);
        converted = (decoder.hasError() ? QString::fromLatin1(cell) : decoded).toUtf8();
        return converted;
    }

private:
    void appendArrayHeader(size_t elements, qint32 elementType)
    {
        appendInt32(elements == 0 ? 0 : 1);
        appendInt32(0);
        appendInt32(elementType);
        if (elements > 0) {
            appendInt32(qint32(elements));
            appendInt32(1);
        }
    }
    void appendInt16(qint16 value)
    {
        const quint16 big = qToBigEndian(quint16(value));
        buffer.append(reinterpret_cast<const char *>(&big), 2);
    }
    void appendInt32(qint32 value)
    {
        const quint32 big = qToBigEndian(quint32(value));
        buffer.append(reinterpret_cast<const char *>(&big), 4);
    }
    void appendInt64(qint64 value)
    {
        const quint64 big = qToBigEndian(quint64(value));
        buffer.append(reinterpret_cast<const char *>(&big), 8);
    }

    void flush()
    {
        if (!buffer.empty() && !failed)
            failed = PQputCopyData(conn, buffer.data(), int(buffer.size())) != 1;
        buffer.clear();
    }

    PGconn *conn;
    std::string buffer; // its appends are inline: millions of small ones per file
    QByteArray converted;
    bool open = false;
    bool failed = false;
};

// A run's rows as a staging table takes them, one row each.
const char *const kCopyStagedRows =
    "COPY import_steps (run, step, code, readings, ended, cut) FROM STDIN (FORMAT binary)";

void copyStagedRow(CopyStream &copy, qint64 run, const ResultRow &row)
{
    copy.beginRow(6);
    copy.int64Field(run);
    copy.int64Field(row.number);
    copy.int64Field(row.code);
    copy.cellArrayField(row.readings);
    copy.boolField(row.ended);
    copy.boolField(row.cutCell);
    copy.endRow();
}

const char *const kCopyBlocks =
    "COPY benchtest.imported_blocks (run, first_step, last_step, rows, lines, unended_steps, "
    "cut_steps) FROM STDIN (FORMAT binary)";

// A new run's rows gathered into blocks of lines, "step<TAB>code<TAB>cell..." each, of
// about one database page: the server stores a block as one text, without looking into it.
class RowBlock
{
public:
    void add(CopyStream &copy, qint64 run, const ResultRow &row)
    {
        line.clear();
        appendNumber(row.number);
        line.push_back('\t');
        appendNumber(row.code);
        for (QByteArrayView cell : row.readings) {
            const QByteArrayView text = copy.utf8(cell);
            line.push_back('\t');
            line.append(text.data(), size_t(text.size()));
        }
        if (rows > 0 && lines.size() + 1 + line.size() > kBytes)
            write(copy, run);
        if (rows == 0)
            firstStep = row.number;
        else
            lines.push_back('\n');
        lines += line;
        lastStep = row.number;
        ++rows;
        if (!row.ended)
            unended.push_back(row.number);
        if (row.cutCell)
            cut.push_back(row.number);
    }

    // Sends what is gathered as one block of the run.
    void write(CopyStream &copy, qint64 run)
    {
        if (rows == 0)
            return;
        copy.beginRow(7);
        copy.int64Field(run);
        copy.int64Field(firstStep);
        copy.int64Field(lastStep);
        copy.int32Field(rows);
        copy.textField(lines);
        copy.int64ArrayField(unended);
        copy.int64ArrayField(cut);
        copy.endRow();
        lines.clear();
        unended.clear();
        cut.clear();
        rows = 0;
    }

private:
    // A block's row stays on the page of its table: larger ones would be moved aside.
    static constexpr size_t kBytes = 8000;

    void appendNumber(qint64 value)
    {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        line.append(digits, size_t(end - digits));
    }

    std::string lines;
    std::string line;
    qint64 firstStep = 0;
    qint64 lastStep = 0;
    qint32 rows = 0;
    std::vector<qint64> unended;
    std::vector<qint64> cut;
};

QString isoFromStamp(const QString &stamp)
{
    const QDateTime time = QDateTime::fromString(stamp, QStringLiteral("yyMMdd hhmmss"));
    // Two-digit years are this century's.
    return time.isValid()
               ? time.addYears(100).toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate)
               : QString();
}

// What the file says of a run, in the record's own terms, so that imported runs and runs
// stored as they went fill the same columns.
QJsonObject recordFromFile(const ResultRun &run, const QString &path)
{
    return {{QStringLiteral("test"), run.quantity},
            {QStringLiteral("testName"), run.testName},
            {QStringLiteral("testItem"), run.testItem},
            {QStringLiteral("tester"), run.tester},
            {QStringLiteral("resultFile"), QFileInfo(path).absoluteFilePath()},
            {QStringLiteral("started"), isoFromStamp(run.startTime)},
            {QStringLiteral("ended"),
             run.finished ? QJsonValue(isoFromStamp(run.finishTime)) : QJsonValue()},
            {QStringLiteral("parametersUsed"),
             QJsonObject{{QStringLiteral("readingsPerStep"), run.dmmColumns.size()}}},
            {QStringLiteral("outcome"),
             QJsonObject{{QStringLiteral("status"),
                          run.finished ? QStringLiteral("finished") : QStringLiteral("stopped")},
                         {QStringLiteral("stepsDone"), run.rows}}}};
}

// One file into the database in one read. Runs are entered a batch ahead of their rows (a
// run's id follows from its place in the file), so that one COPY takes the rows of many
// runs while the server stores them: in blocks for a run new to the database (its rows are
// kept once by this reader, without a key entry per row), into a staging table for one it
// knew already, which then gains only the rows it lacks. The runs' records and figures
// follow once the whole file is read; places entered ahead that the file does not have are
// taken out again.
class FileImport
{
public:
    FileImport(DatabaseConnection &connection, const QString &path, const QByteArray &sha1,
               const QJsonObject &record, ResultImporter::Outcome *outcome)
        : connection(connection), store(connection.database()), path(path), sha1(sha1),
          record(record), typedRecord(RunRecord::fromJson(record)), outcome(outcome),
          copy(static_cast<PGconn *>(connection.nativeHandle()))
    {}

    bool run()
    {
        const ResultFile read =
            ResultFileReader::read(path, [this](const ResultRun &run, const ResultRow &row) {
                if (outcome->error.isEmpty())
                    take(run, row);
            });
        if (!endCopy() || !outcome->error.isEmpty())
            return false;
        outcome->warnings = read.warnings;
        if (!read.error.isEmpty())
            return fail(QStringLiteral("cannot read: %1").arg(read.error));
        if (read.runs.isEmpty())
            return fail(QStringLiteral("no result run found"));
        outcome->runs = int(read.runs.size());
        for (const ResultRun &run : read.runs) {
            if (run.index > enteredUpTo && !enterAhead(run.index))
                return false;
            RunState &state = runs[run.index];
            if (state.isNew && !describe(run, state))
                return false;
            outcome->runsAdded += state.isNew ? 1 : 0;
        }
        if (!removeEnteredAhead(outcome->runs))
            return false;
        if (staged && !mergeKnownRows())
            return false;
        for (const auto &[index, state] : runs) {
            if (state.repeated > 0)
                outcome->warnings.append(QStringLiteral("run %1: %2 rows repeat an earlier step "
                                                        "number and were left out")
                                             .arg(index)
                                             .arg(state.repeated));
        }
        return true;
    }

private:
    struct RunState
    {
        RunFigures figures;  // while its rows are read
        QJsonObject summary; // the figures, worked out once its rows are read
        qint64 rowsTaken = 0;
        qint64 lastStep = std::numeric_limits<qint64>::min();
        qint64 repeated = 0;
        qint64 key = 0;
        bool isNew = false;
        QString runId;
        // A known run's step ranges its gap-free blocks hold, in order; rows come in
        // ascending steps, so one look moves along them.
        std::vector<std::pair<qint64, qint64>> storedRanges;
        size_t rangeAt = 0;

        bool stored(qint64 step)
        {
            while (rangeAt < storedRanges.size() && storedRanges[rangeAt].second < step)
                ++rangeAt;
            return rangeAt < storedRanges.size() && storedRanges[rangeAt].first <= step;
        }
    };

    bool fail(const QString &error)
    {
        if (outcome->error.isEmpty())
            outcome->error = error;
        return false;
    }

    bool exec(QSqlQuery &query) { return query.exec() || fail(query.lastError().text().trimmed()); }

    // A statement made once per file, not once per run: preparing one costs two more round
    // trips to the server each time.
    QSqlQuery &prepared(std::optional<QSqlQuery> &query, const char *sql)
    {
        if (!query) {
            query.emplace(connection.database());
            query->prepare(QString::fromUtf8(sql));
        }
        return *query;
    }

    // The key is (run, step): a step number that comes again in one run is kept once.
    static bool isFresh(RunState &state, const ResultRow &row)
    {
        if (row.number <= state.lastStep)
            return false;
        state.lastStep = row.number;
        return true;
    }

    void take(const ResultRun &run, const ResultRow &row)
    {
        RunState &state = runs[run.index];
        if (&state != copying && !startRows(run.index, state))
            return;
        if (!isFresh(state, row)) {
            ++state.repeated;
            return;
        }
        ++outcome->rows;
        if (state.isNew) {
            state.figures.add(row);
            block.add(copy, state.key, row);
        } else if (!state.stored(row.number)) {
            copyStagedRow(copy, state.key, row);
        }
    }

    // A run's first row: the run before is done, and the COPY goes on when it takes this
    // run's rows too. Queries wait until no COPY is open.
    bool startRows(int index, RunState &state)
    {
        finishRows();
        if (index > enteredUpTo) {
            if (!copy.end(&outcome->error) || !enterAhead(index))
                return false;
        }
        if (!copy.isOpen() || copyingBlocks != state.isNew) {
            if (!copy.end(&outcome->error) || (!state.isNew && !createStaging()) ||
                !copy.begin(state.isNew ? kCopyBlocks : kCopyStagedRows, &outcome->error))
                return false;
            copyingBlocks = state.isNew;
        }
        copying = &state;
        return true;
    }

    // The run being read is done: its last block sent and its figures worked out. A file's
    // runs come one after the other, and only one run's codes are held at a time.
    void finishRows()
    {
        if (copying && copying->isNew) {
            block.write(copy, copying->key);
            summarise(*copying);
        }
        copying = nullptr;
    }

    bool endCopy()
    {
        finishRows();
        return copy.end(&outcome->error);
    }

    static void summarise(RunState &state)
    {
        state.summary = state.figures.toJson();
        state.rowsTaken = state.figures.rows();
        state.figures = RunFigures();
    }

    // Enters the runs at places `from` on under their ids, unless the database has them
    // already: either way their keys. More at a time as the file goes on. No COPY is open.
    bool enterAhead(int from)
    {
        const int count = aheadBatch;
        aheadBatch = qMin(aheadBatch * 2, 64);
        QStringList ids;
        for (int index = from; index < from + count; ++index) {
            RunState &state = runs[index];
            state.runId = describedBy(index) && !typedRecord->runId.isEmpty()
                              ? typedRecord->runId
                              : ResultImporter::derivedRunId(sha1, index);
            ids << state.runId;
        }
        enteredUpTo = from + count - 1;
        QSqlQuery &insert =
            prepared(enterQuery, "INSERT INTO benchtest.runs (run_id, rows_imported) "
                                 "SELECT id, true FROM unnest(CAST(? AS uuid[])) AS id "
                                 "ON CONFLICT DO NOTHING RETURNING id, run_id::text");
        insert.addBindValue(arrayText(ids));
        if (!exec(insert))
            return false;
        const QHash<QString, qint64> newKeys = keysByRunId(insert);
        QStringList known;
        for (int index = from; index < from + count; ++index) {
            RunState &state = runs[index];
            state.isNew = newKeys.contains(state.runId);
            state.key = newKeys.value(state.runId);
            if (!state.isNew)
                known << state.runId;
        }
        return known.isEmpty() || lockKnown(known, from, count);
    }

    // Known runs are held until the import ends: two imports of one run add its missing
    // rows in turn. The steps their gap-free blocks hold are surely stored: a file imported
    // again stages none of them.
    bool lockKnown(const QStringList &ids, int from, int count)
    {
        QSqlQuery lock(connection.database());
        lock.prepare(QStringLiteral("SELECT id, run_id::text FROM benchtest.runs WHERE run_id = "
                                    "ANY (CAST(? AS uuid[])) ORDER BY id FOR UPDATE"));
        lock.addBindValue(arrayText(ids));
        if (!exec(lock))
            return false;
        const QHash<QString, qint64> keys = keysByRunId(lock);
        QHash<qint64, RunState *> byKey;
        for (int index = from; index < from + count; ++index) {
            RunState &state = runs[index];
            if (state.isNew)
                continue;
            if (!keys.contains(state.runId))
                return fail(QStringLiteral("run %1 vanished during the import").arg(state.runId));
            state.key = keys.value(state.runId);
            byKey.insert(state.key, &state);
        }
        QStringList knownKeys;
        for (const qint64 key : byKey.keys())
            knownKeys << QString::number(key);
        QSqlQuery ranges(connection.database());
        ranges.setForwardOnly(true);
        ranges.prepare(QStringLiteral("SELECT run, first_step, last_step FROM "
                                      "benchtest.imported_blocks WHERE run = ANY (CAST(? AS "
                                      "bigint[])) AND rows = last_step - first_step + 1 "
                                      "ORDER BY run, first_step"));
        ranges.addBindValue(arrayText(knownKeys));
        if (!exec(ranges))
            return false;
        while (ranges.next())
            byKey.value(ranges.value(0).toLongLong())
                ->storedRanges.emplace_back(ranges.value(1).toLongLong(),
                                            ranges.value(2).toLongLong());
        return true;
    }

    // The (key, run id) rows of a query, by run id.
    static QHash<QString, qint64> keysByRunId(QSqlQuery &query)
    {
        QHash<QString, qint64> keys;
        while (query.next())
            keys.insert(query.value(1).toString(), query.value(0).toLongLong());
        return keys;
    }

    // Places entered ahead that the file turned out not to have.
    bool removeEnteredAhead(int runsInFile)
    {
        QStringList keys;
        for (const auto &[index, state] : runs) {
            if (index > runsInFile && state.isNew)
                keys << QString::number(state.key);
        }
        if (keys.isEmpty())
            return true;
        QSqlQuery remove(connection.database());
        remove.prepare(
            QStringLiteral("DELETE FROM benchtest.runs WHERE id = ANY (CAST(? AS bigint[]))"));
        remove.addBindValue(arrayText(keys));
        return exec(remove);
    }

    // Ids and keys are plain words: an array's text form needs no quoting for them.
    static QString arrayText(const QStringList &words)
    {
        return QLatin1Char('{') + words.join(QLatin1Char(',')) + QLatin1Char('}');
    }

    // Whether the record beside the file is the run's at this place.
    bool describedBy(int index) const
    {
        return index == 1 && typedRecord &&
               QFileInfo(typedRecord->resultFile).fileName() == QFileInfo(path).fileName();
    }

    // A new run's record and figures, once all its rows are read. A stored run keeps its own.
    bool describe(const ResultRun &run, RunState &state)
    {
        if (state.summary.isEmpty())
            summarise(state); // a run without rows
        outcome->rowsAdded += state.rowsTaken;
        JournalEntry entry;
        entry.kind = JournalEntry::End;
        entry.runId = state.runId;
        entry.record = recordFromFile(run, path);
        if (describedBy(run.index)) {
            for (auto it = record.begin(); it != record.end(); ++it)
                entry.record.insert(it.key(), it.value());
        }
        entry.record.insert(QStringLiteral("runId"), state.runId);
        entry.figures = state.summary;
        if (!store.storeRecord(entry, &outcome->error))
            return false;
        QSqlQuery &source = prepared(sourceQuery, "UPDATE benchtest.runs SET source_file = ?, "
                                                  "source_run = ?, start_stamp = ?, "
                                                  "finish_stamp = ? WHERE id = ?");
        source.addBindValue(QFileInfo(path).absoluteFilePath());
        source.addBindValue(run.index);
        source.addBindValue(run.startTime);
        source.addBindValue(run.finished ? QVariant(run.finishTime)
                                         : QVariant(QMetaType::fromType<QString>()));
        source.addBindValue(state.key);
        return exec(source);
    }

    bool createStaging()
    {
        if (staged)
            return true;
        QSqlQuery staging(connection.database());
        if (!staging.exec(
                QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS import_steps "
                               "(LIKE benchtest.taken_steps INCLUDING DEFAULTS) ON COMMIT DROP")))
            return fail(staging.lastError().text().trimmed());
        staged = true;
        return true;
    }

    // A known run gains the rows it lacks with a key per row. Its steps already stored in
    // blocks (an imported run's) are looked up once, into a table of their own, so that the
    // look is a join rather than a search of the run's blocks for each row. No step in a
    // gap-free block's range was staged (lockKnown): only the blocks with gaps are split.
    bool mergeKnownRows()
    {
        QSqlQuery merge(connection.database());
        if (!merge.exec(QStringLiteral(
                "CREATE TEMP TABLE import_present ON COMMIT DROP AS "
                "SELECT run, split_part(line, E'\\t', 1)::bigint AS step "
                "FROM benchtest.imported_blocks, unnest(string_to_array(lines, E'\\n')) AS line "
                "WHERE run IN (SELECT DISTINCT run FROM import_steps) "
                "AND rows <> last_step - first_step + 1")))
            return fail(merge.lastError().text().trimmed());
        merge.prepare(QStringLiteral(
            "WITH stored AS (INSERT INTO benchtest.taken_steps SELECT i.* FROM import_steps i "
            "    WHERE NOT EXISTS (SELECT 1 FROM import_present p "
            "                      WHERE p.run = i.run AND p.step = i.step) "
            "    ON CONFLICT (run, step) DO NOTHING RETURNING 1) "
            "SELECT count(*) FROM stored"));
        if (!exec(merge) || !merge.next())
            return false;
        outcome->rowsAdded += merge.value(0).toLongLong();
        return true;
    }

    DatabaseConnection &connection;
    RunStore store;
    const QString path;
    const QByteArray sha1;
    const QJsonObject record;
    const std::optional<RunRecord> typedRecord; // the same, read once
    ResultImporter::Outcome *outcome;
    // Every query has ended before a COPY begins: a query that cleans up while the
    // connection is in COPY mode would wait for a result that never comes.
    CopyStream copy;
    RowBlock block;
    std::map<int, RunState> runs; // by the run's place in the file
    RunState *copying = nullptr;  // the run whose rows the open COPY takes
    bool copyingBlocks = false;   // the open COPY takes blocks, not staged rows
    int enteredUpTo = 0;          // the last place entered ahead
    int aheadBatch = 4;
    bool staged = false; // the staging table exists
    std::optional<QSqlQuery> enterQuery;
    std::optional<QSqlQuery> sourceQuery;
};

} // namespace

ResultImporter::ResultImporter(DatabaseConnection &connection) : connection(connection) {}

QString ResultImporter::derivedRunId(const QByteArray &contentSha1, int index)
{
    return QUuid::createUuidV5(kImportNamespace,
                               contentSha1.toHex() + '/' + QByteArray::number(index))
        .toString(QUuid::WithoutBraces);
}

ResultImporter::Outcome ResultImporter::importFile(const QString &path)
{
    Outcome outcome;
    outcome.file = path;
    QFile file(path);
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !sha1.addData(&file)) {
        outcome.error = QStringLiteral("cannot read: %1").arg(file.errorString());
        return outcome;
    }
    file.close();
    if (!connection.nativeHandle()) {
        outcome.error = QStringLiteral("no connection to the database");
        return outcome;
    }

    QSqlDatabase &db = connection.database();
    if (!db.transaction()) {
        outcome.error = db.lastError().text().trimmed();
        return outcome;
    }
    FileImport import(connection, path, sha1.result(), recordBeside(path), &outcome);
    (void)import.run();
    if (outcome.error.isEmpty() && db.commit()) {
        // The blocks' statistics are taken now rather than by the next vacuum: a planner
        // that took the table for empty might read every block to find one run's.
        QSqlQuery analyse(db);
        if (outcome.runsAdded > 0)
            (void)analyse.exec(QStringLiteral("ANALYZE benchtest.imported_blocks"));
        return outcome;
    }
    if (outcome.error.isEmpty())
        outcome.error = db.lastError().text().trimmed();
    db.rollback();
    outcome.runsAdded = 0;
    outcome.rowsAdded = 0;
    return outcome;
}
