#include "database/ResultImporter.h"

#include "database/DatabaseConnection.h"
#include "database/RunFigures.h"
#include "database/RunStore.h"
#include "report/ResultFileReader.h"
#include "results/RunRecord.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringDecoder>
#include <QUuid>

#include <libpq-fe.h>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

// Derived run ids live in a namespace of their own (UUID version 5).
const QUuid kImportNamespace(QStringLiteral("{6b2f4f7e-2d1a-4c55-9a43-8c3c1f0e9b21}"));

// Rows in PostgreSQL's COPY text format, sent in chunks on the connection's own socket.
class CopyStream
{
public:
    explicit CopyStream(PGconn *conn) : conn(conn) {}

    bool begin(const char *table, QString *error)
    {
        const QByteArray sql =
            QByteArray("COPY ") + table + " (run, step, code, readings, ended, cut) FROM STDIN";
        PGresult *result = PQexec(conn, sql.constData());
        const bool ok = PQresultStatus(result) == PGRES_COPY_IN;
        if (!ok)
            *error = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        PQclear(result);
        open = ok;
        return ok;
    }

    void row(qint64 run, const ResultRow &row)
    {
        buffer += QByteArray::number(run);
        buffer += '\t';
        buffer += QByteArray::number(row.number);
        buffer += '\t';
        buffer += QByteArray::number(row.code);
        buffer += "\t{";
        for (size_t i = 0; i < row.readings.size(); ++i) {
            if (i > 0)
                buffer += ',';
            appendElement(row.readings[i]);
        }
        buffer += row.ended ? "}\tt\t" : "}\tf\t";
        buffer += row.cutCell ? "t\n" : "f\n";
        if (buffer.size() >= (1 << 16))
            flush();
    }

    // Ends the COPY; false with `error` when the server refused any of it.
    bool end(QString *error)
    {
        if (!open)
            return true;
        open = false;
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

private:
    // One array element, quoted for the array and escaped for COPY: a backslash becomes
    // four, a quote \\", and control characters COPY's escapes.
    void appendElement(QByteArrayView cell)
    {
        QByteArray text;
        if (!std::all_of(cell.begin(), cell.end(), [](char c) { return uchar(c) < 0x80; })) {
            // The database holds UTF-8; a cell of a local 8-bit file keeps its bytes as
            // Latin-1 characters.
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString decoded = utf8(cell);
            text = (utf8.hasError() ? QString::fromLatin1(cell) : decoded).toUtf8();
            cell = text;
        }
        buffer += '"';
        for (char c : cell) {
            switch (c) {
            case '\\':
                buffer += "\\\\\\\\";
                break;
            case '"':
                buffer += "\\\\\"";
                break;
            case '\t':
                buffer += "\\t";
                break;
            case '\n':
                buffer += "\\n";
                break;
            case '\r':
                buffer += "\\r";
                break;
            default:
                buffer += c;
            }
        }
        buffer += '"';
    }

    void flush()
    {
        if (!buffer.isEmpty() && !failed)
            failed = PQputCopyData(conn, buffer.constData(), int(buffer.size())) != 1;
        buffer.clear();
    }

    PGconn *conn;
    QByteArray buffer;
    bool open = false;
    bool failed = false;
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

class FileImport
{
public:
    FileImport(DatabaseConnection &connection, const QString &path, const QByteArray &sha1,
               const QJsonObject &record, ResultImporter::Outcome *outcome)
        : connection(connection), store(connection.database()),
          copy(static_cast<PGconn *>(connection.nativeHandle())), path(path), sha1(sha1),
          record(record), outcome(outcome)
    {}

    bool failed() const { return !outcome->error.isEmpty(); }

    void row(const ResultRun &run, const ResultRow &row)
    {
        if (failed())
            return;
        if (!current || current->index != run.index) {
            finishRun();
            beginRun(run);
            if (failed())
                return;
        }
        // The key is (run, step): a step number that comes twice in one run is kept once.
        if (row.number <= lastStep) {
            ++repeatedSteps;
            return;
        }
        lastStep = row.number;
        copy.row(runKey, row);
        figures->add(row);
        ++outcome->rows;
    }

    // Runs without rows, which no row announced.
    void finish(const QList<ResultRun> &runs)
    {
        finishRun();
        for (const ResultRun &run : runs) {
            if (run.rows == 0 && !failed()) {
                beginRun(run);
                finishRun();
            }
        }
        storeRecords(runs);
    }

private:
    bool exec(QSqlQuery &query)
    {
        if (query.exec())
            return true;
        outcome->error = query.lastError().text().trimmed();
        return false;
    }

    bool findRunKey()
    {
        QSqlQuery insert(connection.database());
        insert.prepare(
            QStringLiteral("INSERT INTO benchtest.runs (run_id) VALUES (CAST(? AS uuid)) "
                           "ON CONFLICT DO NOTHING RETURNING id"));
        insert.addBindValue(runId);
        if (!exec(insert))
            return false;
        isNew = insert.next();
        if (isNew) {
            runKey = insert.value(0).toLongLong();
        } else {
            QSqlQuery known(connection.database());
            known.prepare(
                QStringLiteral("SELECT id FROM benchtest.runs WHERE run_id = CAST(? AS uuid)"));
            known.addBindValue(runId);
            if (!exec(known) || !known.next()) {
                outcome->error =
                    outcome->error.isEmpty()
                        ? QStringLiteral("run %1 vanished during the import").arg(runId)
                        : outcome->error;
                return false;
            }
            runKey = known.value(0).toLongLong();
            // Only the rows it lacks: through a table of this session, merged at the end.
            QSqlQuery staging(connection.database());
            if (!staging.exec(
                    QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS import_steps "
                                   "(LIKE benchtest.steps INCLUDING DEFAULTS) ON COMMIT DROP")) ||
                !staging.exec(QStringLiteral("TRUNCATE import_steps"))) {
                outcome->error = staging.lastError().text().trimmed();
                return false;
            }
        }
        return true;
    }

    void beginRun(const ResultRun &run)
    {
        current = run;
        lastStep = std::numeric_limits<qint64>::min();
        repeatedSteps = 0;
        // Built anew in place: a copied StepStatistics would keep an iterator into the
        // map it was copied from.
        figures.emplace();
        described = run.index == 1 &&
                    QFileInfo(record.value(QStringLiteral("resultFile")).toString()).fileName() ==
                        QFileInfo(path).fileName();
        runId = described && !record.value(QStringLiteral("runId")).toString().isEmpty()
                    ? record.value(QStringLiteral("runId")).toString()
                    : ResultImporter::derivedRunId(sha1, run.index);

        // Every query is gone before the COPY starts: a query that cleans up while the
        // connection is in COPY mode would wait for a result that never comes.
        if (!findRunKey())
            return;
        copy.begin(isNew ? "benchtest.steps" : "import_steps", &outcome->error);
    }

    void finishRun()
    {
        if (!current)
            return;
        const ResultRun run = *current; // as of its first row: see storeRecords()
        current.reset();
        if (failed() || !copy.end(&outcome->error))
            return;
        ++outcome->runs;
        if (repeatedSteps > 0)
            outcome->warnings.append(QStringLiteral("run %1: %2 rows repeat an earlier step "
                                                    "number and were left out")
                                         .arg(run.index)
                                         .arg(repeatedSteps));
        QSqlQuery count(connection.database());
        if (!isNew) {
            count.prepare(QStringLiteral(
                "WITH added AS (INSERT INTO benchtest.steps SELECT * FROM import_steps "
                "ON CONFLICT (run, step) DO NOTHING RETURNING 1) SELECT count(*) FROM added"));
            if (exec(count) && count.next())
                outcome->rowsAdded += count.value(0).toLongLong();
            return; // the stored run keeps its record
        }
        ++outcome->runsAdded;
        outcome->rowsAdded += figures->rows();
        added.append({run.index, runId, runKey, described, figures->toJson()});
    }

    // The records of the runs added, once the whole file is read: only then is it known
    // how each run ended.
    void storeRecords(const QList<ResultRun> &runs)
    {
        for (const AddedRun &run : std::as_const(added)) {
            if (failed())
                return;
            const ResultRun &read = runs.at(run.index - 1);
            JournalEntry entry;
            entry.kind = JournalEntry::End;
            entry.runId = run.runId;
            entry.record = recordFromFile(read, path);
            if (run.described) {
                for (auto it = record.begin(); it != record.end(); ++it)
                    entry.record.insert(it.key(), it.value());
            }
            entry.record.insert(QStringLiteral("runId"), run.runId);
            entry.figures = run.figures;
            if (!store.storeRecord(entry, &outcome->error))
                return;
            QSqlQuery source(connection.database());
            source.prepare(QStringLiteral(
                "UPDATE benchtest.runs SET source_file = ?, source_run = ?, start_stamp = ?, "
                "finish_stamp = ? WHERE id = ?"));
            source.addBindValue(QFileInfo(path).absoluteFilePath());
            source.addBindValue(read.index);
            source.addBindValue(read.startTime);
            source.addBindValue(read.finished ? QVariant(read.finishTime)
                                              : QVariant(QMetaType::fromType<QString>()));
            source.addBindValue(run.key);
            (void)exec(source);
        }
    }

    struct AddedRun
    {
        int index;
        QString runId;
        qint64 key;
        bool described;
        QJsonObject figures;
    };

    DatabaseConnection &connection;
    RunStore store;
    CopyStream copy;
    const QString path;
    const QByteArray sha1;
    const QJsonObject record;
    ResultImporter::Outcome *outcome;

    std::optional<ResultRun> current;
    QString runId;
    bool described = false;
    QList<AddedRun> added;
    qint64 runKey = 0;
    bool isNew = false;
    qint64 lastStep = 0;
    qint64 repeatedSteps = 0;
    std::optional<RunFigures> figures;
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
    FileImport import(connection, path, sha1.result(), RunRecord::read(path), &outcome);
    const ResultFile read = ResultFileReader::read(
        path, [&import](const ResultRun &run, const ResultRow &row) { import.row(run, row); });
    import.finish(read.runs);
    outcome.warnings = read.warnings + outcome.warnings;
    if (outcome.error.isEmpty() && !read.error.isEmpty())
        outcome.error = QStringLiteral("cannot read: %1").arg(read.error);
    if (outcome.error.isEmpty() && read.runs.isEmpty())
        outcome.error = QStringLiteral("no result run found");
    if (outcome.error.isEmpty() && db.commit())
        return outcome;
    if (outcome.error.isEmpty())
        outcome.error = db.lastError().text().trimmed();
    db.rollback();
    outcome.runsAdded = 0;
    outcome.rowsAdded = 0;
    return outcome;
}
