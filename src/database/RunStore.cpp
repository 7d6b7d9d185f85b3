#include "database/RunStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>

#include <map>

namespace {

// The run's columns come from its record, so that what the record says and what the
// database says cannot drift apart; the record is kept whole beside them.
const char *const kStoreRecord = R"(
    INSERT INTO benchtest.runs AS r (run_id, test, test_name, item, tester, bench, software,
        meter_resource, meter_identity, serial_device, plan, reading_columns, result_file,
        started, ended, status, clean, summary, steps_planned, steps_done, err_cells,
        rows_expected, gain, offset_value, inl_max_lsb, dnl_max_lsb, missing_codes, noise_lsb,
        codes_with_data, record)
    SELECT CAST(:id AS uuid), j->>'test', j->>'testName', j->>'testItem', j->>'tester',
        j->>'bench', j->>'software', j->'meter'->>'resource', j->'meter'->>'identity',
        j->>'serialDevice',
        jsonb_build_object('used', j->'parametersUsed', 'typed', j->'parametersTyped'),
        (j->'parametersUsed'->>'readingsPerStep')::integer, j->>'resultFile',
        NULLIF(j->>'started', '')::timestamptz, NULLIF(j->>'ended', '')::timestamptz,
        coalesce(j->'outcome'->>'status', 'running'), (j->'outcome'->>'clean')::boolean,
        j->'outcome'->>'summary', (j->'outcome'->>'stepsPlanned')::bigint,
        (j->'outcome'->>'stepsDone')::bigint, (j->'outcome'->>'errCells')::bigint,
        (f->>'rows')::bigint, (f->>'gain')::float8, (f->>'offset')::float8,
        (f->>'inlMaxLsb')::float8, (f->>'dnlMaxLsb')::float8, (f->>'missingCodes')::integer,
        (f->>'noiseLsb')::float8, (f->>'codesWithData')::integer, j
    FROM (SELECT CAST(:record AS jsonb) AS j, CAST(:figures AS jsonb) AS f) AS input
    ON CONFLICT (run_id) DO UPDATE SET (test, test_name, item, tester, bench, software,
        meter_resource, meter_identity, serial_device, plan, reading_columns, result_file,
        started, ended, status, clean, summary, steps_planned, steps_done, err_cells,
        rows_expected, gain, offset_value, inl_max_lsb, dnl_max_lsb, missing_codes, noise_lsb,
        codes_with_data, record) = (EXCLUDED.test, EXCLUDED.test_name, EXCLUDED.item,
        EXCLUDED.tester, EXCLUDED.bench, EXCLUDED.software, EXCLUDED.meter_resource,
        EXCLUDED.meter_identity, EXCLUDED.serial_device, EXCLUDED.plan,
        EXCLUDED.reading_columns, EXCLUDED.result_file, EXCLUDED.started, EXCLUDED.ended,
        EXCLUDED.status, EXCLUDED.clean, EXCLUDED.summary, EXCLUDED.steps_planned,
        EXCLUDED.steps_done, EXCLUDED.err_cells, EXCLUDED.rows_expected, EXCLUDED.gain,
        EXCLUDED.offset_value, EXCLUDED.inl_max_lsb, EXCLUDED.dnl_max_lsb,
        EXCLUDED.missing_codes, EXCLUDED.noise_lsb, EXCLUDED.codes_with_data, EXCLUDED.record)
    WHERE r.status IS NULL OR r.status = 'running' OR EXCLUDED.status <> 'running')";

// Rows may come before their run's start record has been stored (a journal read out of
// order): the run's key exists from the first thing stored about it.
const char *const kEnsureRun =
    "INSERT INTO benchtest.runs (run_id) VALUES (CAST(? AS uuid)) ON CONFLICT DO NOTHING";

// Rows are stored with a key per row. A run entered by an import has its file's rows in
// blocks without one: a step found there is not stored again. The run's lock (an import
// of the same run takes it too) keeps the look and the insert together.
const char *const kStoreRows = R"(
    WITH r AS (SELECT id, rows_imported FROM benchtest.runs
               WHERE run_id = CAST(? AS uuid) FOR SHARE),
    x AS (SELECT * FROM jsonb_to_recordset(CAST(? AS jsonb))
              AS x(step bigint, code bigint, cells text[], wall bigint, mono bigint))
    INSERT INTO benchtest.taken_steps (run, step, code, readings, taken_at, run_ms)
    SELECT r.id, x.step, x.code, x.cells, to_timestamp(x.wall / 1000.0), x.mono
    FROM r, x
    WHERE NOT r.rows_imported OR x.step NOT IN
        (SELECT i.step FROM benchtest.imported_steps i, r WHERE i.run = r.id)
    ON CONFLICT (run, step) DO NOTHING)";

QString errorOf(const QSqlQuery &query)
{
    return query.lastError().text().trimmed();
}

} // namespace

RunStore::RunStore(QSqlDatabase &db) : db(db) {}

RunStore::~RunStore() = default;

bool RunStore::store(const QList<JournalEntry> &entries, QString *error)
{
    if (!db.transaction()) {
        *error = db.lastError().text().trimmed();
        return false;
    }
    // Rows grouped by run, in the order they came; records in theirs.
    std::map<QString, QList<const DatabaseRow *>> rows;
    bool ok = true;
    for (const JournalEntry &entry : entries) {
        if (entry.kind == JournalEntry::Row)
            rows[entry.runId].append(&entry.row);
        else
            ok = ok && storeRecord(entry, error);
    }
    for (const auto &[runId, runRows] : rows)
        ok = ok && storeRows(runId, runRows, error);
    if (ok && db.commit())
        return true;
    if (ok)
        *error = db.lastError().text().trimmed();
    db.rollback();
    return false;
}

bool RunStore::storeRecord(const JournalEntry &entry, QString *error)
{
    if (!recordQuery) {
        recordQuery = std::make_unique<QSqlQuery>(db);
        recordQuery->prepare(QString::fromUtf8(kStoreRecord));
    }
    recordQuery->bindValue(QStringLiteral(":id"), entry.runId);
    recordQuery->bindValue(
        QStringLiteral(":record"),
        QString::fromUtf8(QJsonDocument(entry.record).toJson(QJsonDocument::Compact)));
    recordQuery->bindValue(
        QStringLiteral(":figures"),
        QString::fromUtf8(QJsonDocument(entry.figures).toJson(QJsonDocument::Compact)));
    if (recordQuery->exec())
        return true;
    *error = errorOf(*recordQuery);
    return false;
}

bool RunStore::storeRows(const QString &runId, const QList<const DatabaseRow *> &rows,
                         QString *error)
{
    if (!runQuery) {
        runQuery = std::make_unique<QSqlQuery>(db);
        runQuery->prepare(QString::fromUtf8(kEnsureRun));
        rowsQuery = std::make_unique<QSqlQuery>(db);
        rowsQuery->prepare(QString::fromUtf8(kStoreRows));
    }
    runQuery->addBindValue(runId);
    if (!runQuery->exec()) {
        *error = errorOf(*runQuery);
        return false;
    }
    QJsonArray batch;
    for (const DatabaseRow *row : rows)
        batch.append(QJsonObject{{QStringLiteral("step"), row->step},
                                 {QStringLiteral("code"), row->code},
                                 {QStringLiteral("cells"), QJsonArray::fromStringList(row->cells)},
                                 {QStringLiteral("wall"), row->wallMs},
                                 {QStringLiteral("mono"), row->monotonicMs}});
    rowsQuery->addBindValue(runId);
    rowsQuery->addBindValue(QString::fromUtf8(QJsonDocument(batch).toJson(QJsonDocument::Compact)));
    if (rowsQuery->exec())
        return true;
    *error = errorOf(*rowsQuery);
    return false;
}

RunStore::RunState RunStore::state(const QString &runId, QString *error)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT outcome IS NOT NULL AND outcome <> 'running', rows_stored "
                                 "FROM benchtest.run_summary WHERE run_id = CAST(? AS uuid)"));
    query.addBindValue(runId);
    RunState state;
    if (!query.exec()) {
        *error = errorOf(query);
        return state;
    }
    if (query.next()) {
        state.known = true;
        state.ended = query.value(0).toBool();
        state.rows = query.value(1).toLongLong();
    }
    return state;
}
