#include "database/DatabaseSchema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <string>
#include <vector>

namespace {

struct Migration
{
    int version;
    const char *description;
    std::vector<std::string> statements;
};

// One row per run with its stored rows counted, as `rowsStored` counts them. Made by the
// first schema and made again whenever the tables under `steps` change.
std::string runSummaryView(const char *rowsStored)
{
    return std::string(R"sql(CREATE OR REPLACE VIEW benchtest.run_summary AS
    SELECT r.run_id, r.item AS board, benchtest.lot_of(r.item) AS lot, r.tester,
           r.bench, r.test, r.test_name, r.plan, r.meter_resource,
           r.meter_identity, r.status AS outcome, r.clean, r.summary,
           r.started, r.ended, r.steps_planned, r.steps_done,
           )sql") +
           rowsStored + R"sql( AS rows_stored,
           r.gain, r.offset_value, r.inl_max_lsb, r.dnl_max_lsb,
           r.missing_codes, r.noise_lsb, r.result_file, r.source_file
    FROM benchtest.runs r)sql";
}

const char *const kRowsInSteps = "(SELECT count(*) FROM benchtest.steps s WHERE s.run = r.id)";

// Never edit a migration that has shipped: add the next one.
const std::vector<Migration> &migrations()
{
    static const std::vector<Migration> all = {
        {1,
         "runs, their step rows, limits, lots and the report views",
         {
             R"sql(CREATE TABLE benchtest.runs (
                id bigserial PRIMARY KEY,
                run_id uuid NOT NULL UNIQUE,
                test text,
                test_name text,
                item text,
                tester text,
                bench text,
                software text,
                meter_resource text,
                meter_identity text,
                serial_device text,
                plan jsonb,
                reading_columns integer,
                result_file text,
                source_file text,
                source_run integer,
                start_stamp text,
                finish_stamp text,
                started timestamptz,
                ended timestamptz,
                status text,
                clean boolean,
                summary text,
                steps_planned bigint,
                steps_done bigint,
                err_cells bigint,
                rows_expected bigint,
                gain double precision,
                offset_value double precision,
                inl_max_lsb double precision,
                dnl_max_lsb double precision,
                missing_codes integer,
                noise_lsb double precision,
                codes_with_data integer,
                record jsonb,
                stored_at timestamptz NOT NULL DEFAULT now()))sql",
             R"sql(CREATE TABLE benchtest.steps (
                run bigint NOT NULL,
                step bigint NOT NULL,
                code bigint NOT NULL,
                readings text[] NOT NULL,
                ended boolean NOT NULL DEFAULT true,
                cut boolean NOT NULL DEFAULT false,
                taken_at timestamptz,
                run_ms bigint,
                PRIMARY KEY (run, step)))sql",
             "CREATE INDEX runs_item ON benchtest.runs (item)",
             "CREATE INDEX runs_tester ON benchtest.runs (tester)",
             "CREATE INDEX runs_started ON benchtest.runs (started)",
             R"sql(CREATE TABLE benchtest.limits (
                test text PRIMARY KEY,
                ideal_lsb double precision,
                ideal_offset double precision NOT NULL DEFAULT 0,
                inl_max_lsb double precision,
                dnl_max_lsb double precision,
                gain_error_max_percent double precision,
                offset_error_max_lsb double precision,
                missing_codes_max integer,
                noise_max_lsb double precision))sql",
             // A lab names its boards "<lot>-<serial>" unless it says otherwise by
             // replacing this function.
             R"sql(CREATE FUNCTION benchtest.lot_of(item text) RETURNS text
                LANGUAGE sql IMMUTABLE AS
                $$ SELECT CASE WHEN strpos(item, '-') > 0
                               THEN regexp_replace(item, '-[^-]*$', '')
                               ELSE item END $$)sql",
             runSummaryView(kRowsInSteps),
             R"sql(CREATE VIEW benchtest.run_verdicts AS
                SELECT s.*,
                       100 * (s.gain - l.ideal_lsb) / l.ideal_lsb AS gain_error_percent,
                       (s.offset_value - l.ideal_offset) / l.ideal_lsb AS offset_error_lsb,
                       coalesce(s.outcome = 'finished' AND s.gain IS NOT NULL
                           AND (l.inl_max_lsb IS NULL OR abs(s.inl_max_lsb) <= l.inl_max_lsb)
                           AND (l.dnl_max_lsb IS NULL OR abs(s.dnl_max_lsb) <= l.dnl_max_lsb)
                           AND (l.gain_error_max_percent IS NULL OR
                                abs(100 * (s.gain - l.ideal_lsb) / l.ideal_lsb)
                                    <= l.gain_error_max_percent)
                           AND (l.offset_error_max_lsb IS NULL OR
                                abs((s.offset_value - l.ideal_offset) / l.ideal_lsb)
                                    <= l.offset_error_max_lsb)
                           AND (l.missing_codes_max IS NULL OR
                                s.missing_codes <= l.missing_codes_max)
                           AND (l.noise_max_lsb IS NULL OR s.noise_lsb <= l.noise_max_lsb),
                           false) AS passes
                FROM benchtest.run_summary s JOIN benchtest.limits l ON l.test = s.test)sql",
             // A board counts once: its latest finished run decides.
             R"sql(CREATE VIEW benchtest.board_verdicts AS
                SELECT DISTINCT ON (test, board) *
                FROM benchtest.run_verdicts
                WHERE outcome = 'finished'
                ORDER BY test, board, started DESC NULLS LAST)sql",
             R"sql(CREATE VIEW benchtest.lot_yield AS
                SELECT test, lot, count(*) AS boards,
                       count(*) FILTER (WHERE passes) AS passed,
                       round(100.0 * count(*) FILTER (WHERE passes) / count(*), 1)
                           AS yield_percent,
                       min(started) AS first_run, max(started) AS last_run
                FROM benchtest.board_verdicts GROUP BY test, lot)sql",
             R"sql(CREATE VIEW benchtest.week_yield AS
                SELECT test, date_trunc('week', started)::date AS week, count(*) AS boards,
                       count(*) FILTER (WHERE passes) AS passed,
                       round(100.0 * count(*) FILTER (WHERE passes) / count(*), 1)
                           AS yield_percent
                FROM benchtest.board_verdicts GROUP BY test, week)sql",
         }},
        // A key entry per row is half of what an import costs the server. The rows of a
        // run entered by an import go to a table of their own without one: the import
        // itself keeps each (run, step) once, and a run's rows live in one table only
        // (runs.rows_imported says which). `steps` is both, as before.
        {2,
         "imported runs' rows in a table of their own, without a key per row",
         {
             "ALTER TABLE benchtest.steps RENAME TO taken_steps",
             "ALTER INDEX benchtest.steps_pkey RENAME TO taken_steps_pkey",
             R"sql(CREATE TABLE benchtest.imported_steps (
                LIKE benchtest.taken_steps INCLUDING DEFAULTS))sql",
             // Rows come in run by run: a block range's smallest and largest run find a
             // run's rows without an entry per row.
             R"sql(CREATE INDEX imported_steps_run ON benchtest.imported_steps
                USING brin (run) WITH (pages_per_range = 16, autosummarize = on))sql",
             "ALTER TABLE benchtest.runs ADD COLUMN rows_imported boolean NOT NULL DEFAULT false",
             R"sql(CREATE VIEW benchtest.steps AS
                SELECT run, step, code, readings, ended, cut, taken_at, run_ms
                FROM benchtest.taken_steps
                UNION ALL
                SELECT run, step, code, readings, ended, cut, taken_at, run_ms
                FROM benchtest.imported_steps)sql",
             runSummaryView(kRowsInSteps),
         }},
        // Still a row per step was most of what an import costs the server. An imported
        // run's rows are now stored as its file has them, in blocks of lines of about 8 kB
        // each ("step<TAB>code<TAB>cell..."), and read through the view `imported_steps`.
        // Rows the journal brought to an imported run (they carry their times) join the
        // taken ones.
        {3,
         "imported runs' rows in blocks of lines",
         {
             "ALTER TABLE benchtest.imported_steps RENAME TO imported_steps_2",
             R"sql(CREATE TABLE benchtest.imported_blocks (
                run bigint NOT NULL,
                first_step bigint NOT NULL,
                last_step bigint NOT NULL,
                rows integer NOT NULL,
                lines text NOT NULL,
                unended_steps bigint[] NOT NULL DEFAULT '{}',
                cut_steps bigint[] NOT NULL DEFAULT '{}')
                WITH (toast_tuple_target = 8160))sql",
             "CREATE INDEX imported_blocks_run ON benchtest.imported_blocks (run, first_step)",
             // The planner needs to know how the blocks spread over runs, not what the
             // lines hold: a small sample of rows, taken after each import, is enough.
             R"sql(ALTER TABLE benchtest.imported_blocks
                ALTER run SET STATISTICS 10, ALTER first_step SET STATISTICS 10,
                ALTER last_step SET STATISTICS 10, ALTER rows SET STATISTICS 10,
                ALTER lines SET STATISTICS 0, ALTER unended_steps SET STATISTICS 0,
                ALTER cut_steps SET STATISTICS 0)sql",
             R"sql(INSERT INTO benchtest.taken_steps
                SELECT * FROM benchtest.imported_steps_2
                WHERE taken_at IS NOT NULL OR run_ms IS NOT NULL)sql",
             R"sql(INSERT INTO benchtest.imported_blocks
                SELECT run, min(step), max(step), count(*),
                       string_agg(concat_ws(E'\t', VARIADIC ARRAY[step::text, code::text] || readings), E'\n'
                                  ORDER BY step),
                       coalesce(array_agg(step ORDER BY step) FILTER (WHERE NOT ended), '{}'),
                       coalesce(array_agg(step ORDER BY step) FILTER (WHERE cut), '{}')
                FROM (SELECT *, (row_number() OVER (PARTITION BY run ORDER BY step) - 1) / 100
                          AS block
                      FROM benchtest.imported_steps_2
                      WHERE taken_at IS NULL AND run_ms IS NULL) s
                GROUP BY run, block)sql",
             R"sql(CREATE VIEW benchtest.imported_steps AS
                SELECT b.run, f[1]::bigint AS step, f[2]::bigint AS code, f[3:] AS readings,
                       f[1]::bigint <> ALL (b.unended_steps) AS ended,
                       f[1]::bigint = ANY (b.cut_steps) AS cut
                FROM benchtest.imported_blocks b,
                     unnest(string_to_array(b.lines, E'\n')) AS line,
                     string_to_array(line, E'\t') AS f)sql",
             R"sql(CREATE OR REPLACE VIEW benchtest.steps AS
                SELECT run, step, code, readings, ended, cut, taken_at, run_ms
                FROM benchtest.taken_steps
                UNION ALL
                SELECT run, step, code, readings, ended, cut, NULL::timestamptz, NULL::bigint
                FROM benchtest.imported_steps)sql",
             "DROP TABLE benchtest.imported_steps_2",
             runSummaryView("((SELECT count(*) FROM benchtest.taken_steps s WHERE s.run = r.id) + "
                            "(SELECT coalesce(sum(b.rows), 0) FROM benchtest.imported_blocks b "
                            "WHERE b.run = r.id))"),
         }},
    };
    return all;
}

bool exec(QSqlDatabase &db, const QString &statement, QString *error)
{
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    *error = query.lastError().text().trimmed();
    return false;
}

} // namespace

int DatabaseSchema::currentVersion()
{
    return migrations().back().version;
}

int DatabaseSchema::version(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT to_regclass('benchtest.migrations') IS NOT NULL")) ||
        !query.next() || !query.value(0).toBool())
        return 0;
    if (!query.exec(QStringLiteral("SELECT coalesce(max(version), 0) FROM benchtest.migrations")) ||
        !query.next())
        return 0;
    return query.value(0).toInt();
}

bool DatabaseSchema::migrate(QSqlDatabase &db, QString *error, int upTo)
{
    // Most connections find the schema current: no lock, no transaction.
    const int found = version(db);
    if (found >= upTo && found <= currentVersion())
        return true;
    if (found > currentVersion()) {
        *error = QStringLiteral("the database's schema is version %1, newer than this "
                                "program's %2: update the program")
                     .arg(found)
                     .arg(currentVersion());
        return false;
    }
    if (!db.transaction()) {
        *error = db.lastError().text().trimmed();
        return false;
    }
    // Programs that start together wait here for the first one's migration.
    bool ok = exec(db, QStringLiteral("SELECT pg_advisory_xact_lock(7283514)"), error) &&
              exec(db, QStringLiteral("CREATE SCHEMA IF NOT EXISTS benchtest"), error) &&
              exec(db,
                   QStringLiteral("CREATE TABLE IF NOT EXISTS benchtest.migrations ("
                                  "version integer PRIMARY KEY, description text NOT NULL, "
                                  "applied_at timestamptz NOT NULL DEFAULT now())"),
                   error);
    const int applied = ok ? version(db) : 0;
    for (const Migration &migration : migrations()) {
        if (!ok || migration.version <= applied || migration.version > upTo)
            continue;
        for (const std::string &statement : migration.statements)
            ok = ok && exec(db, QString::fromStdString(statement), error);
        QSqlQuery record(db);
        record.prepare(QStringLiteral(
            "INSERT INTO benchtest.migrations (version, description) VALUES (?, ?)"));
        record.addBindValue(migration.version);
        record.addBindValue(QString::fromUtf8(migration.description));
        if (ok && !record.exec()) {
            *error = record.lastError().text().trimmed();
            ok = false;
        }
    }
    if (ok && db.commit())
        return true;
    if (ok)
        *error = db.lastError().text().trimmed();
    db.rollback();
    return false;
}
