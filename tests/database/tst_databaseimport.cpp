// benchtest-report against a PostgreSQL server the test starts itself: result files
// imported (twice: stored once; grown: only what is new), and reports from the database that say
// what the same report says from the files.
#include "database/DatabaseConnection.h"
#include "database/DatabaseSchema.h"
#include "database/ResultImporter.h"
#include "database/RunStore.h"
#include "record/RunRecord.h"
#include "tests/database/StoredRows.h"
#include "tests/support/FileBytes.h"
#include "tests/support/PostgresServer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kData = QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/report/data/");

struct Report
{
    int exitCode = -1;
    QString out;
    QString err;
};

Report report(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(BENCHTEST_REPORT_EXE), arguments);
    const bool finished = process.waitForFinished(120000);
    return {finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QByteArray sha1Of(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return hash.result();
}

// A DAC run's head block and heading, then `rows` rows; its end line when `ended`.
QByteArray resultRun(int rows, bool ended, int offset = 0)
{
    QByteArray text = "测试项: [DAC - 串口发送DAC值，万用表采集电压]\n测试名: [GROW]\n"
                      "测试人: [QA]\n开始时间: [240101 090000]\n\nNo.\tDAC\tDMM1\n";
    for (int step = 1; step <= rows; ++step)
        text += QByteArray::number(step) + '\t' + QByteArray::number(step) + "\t+" +
                QByteArray::number(step + offset) + ".0E-03\n";
    if (ended)
        text += "\n完成时间: [240101 090100]\n";
    return text;
}

// The reports of a JSON report without what names where the readings came from.
QJsonArray figures(const QString &jsonPath)
{
    QFile file(jsonPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QJsonArray reports;
    for (const QJsonValue &value : QJsonDocument::fromJson(file.readAll())
                                       .object()
                                       .value(QStringLiteral("reports"))
                                       .toArray()) {
        QJsonObject report = value.toObject();
        report.remove(QStringLiteral("label"));
        QJsonArray runs;
        for (const QJsonValue &run : report.value(QStringLiteral("runs")).toArray()) {
            QJsonObject described = run.toObject();
            described.remove(QStringLiteral("file"));
            described.remove(QStringLiteral("run"));
            runs.append(described);
        }
        report.insert(QStringLiteral("runs"), runs);
        reports.append(report);
    }
    return reports;
}

} // namespace

class tst_DatabaseImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void importTwiceStoresOnce();
    void grownFileAddsOnlyWhatIsNew();
    void cellsKeptWhateverTheyHold();
    void manyRunsEnteredAhead();
    void databaseReportEqualsFileReport_data();
    void databaseReportEqualsFileReport();
    void journalRowsOfAnImportedRunStoredOnce();
    void upgradeKeepsEveryRowAndItsKey();
    void badUsage();

private:
    PostgresServer server;
    QTemporaryDir folder;
};

void tst_DatabaseImport::initTestCase()
{
    if (!PostgresServer::isAvailable())
        QSKIP("PostgreSQL 15 is not installed: scripts/setup installs it");
    QVERIFY2(server.start(), qPrintable(server.error()));
    // The files as they are, runs stopped mid-cell and a run joined to the next included.
    const QStringList files = {kData + "tworuns.txt", kData + "stopped.txt", kData + "err.txt",
                               kData + "bow.txt"};
    const Report imported = report(QStringList{"--db", server.url(), "--import"} + files);
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.err));
}

// Every run's rows equal the file's cell for cell; a second import adds nothing, and says so.
void tst_DatabaseImport::importTwiceStoresOnce()
{
    const QString counts = QStringLiteral("SELECT (SELECT count(*) FROM benchtest.runs), "
                                          "(SELECT count(*) FROM benchtest.steps)");
    qsizetype rows = 0;
    for (const QString name : {"tworuns.txt", "stopped.txt", "err.txt", "bow.txt"})
        rows += fileRows(kData + name).size();
    const QString before = server.query(counts);
    QCOMPARE(before, QStringLiteral("5|%1").arg(rows));
    const Report again =
        report({"--db", server.url(), "--import", kData + "tworuns.txt", kData + "bow.txt"});
    QCOMPARE(again.exitCode, 0);
    QVERIFY2(again.out.contains(QStringLiteral("tworuns.txt: 2 runs, %1 rows; new: 0 runs, 0 rows")
                                    .arg(fileRows(kData + "tworuns.txt").size())),
             qPrintable(again.out));
    QCOMPARE(server.query(counts), before);

    for (const QString name : {"tworuns.txt", "stopped.txt", "err.txt", "bow.txt"}) {
        const QString path = kData + name;
        const QByteArray sha1 = sha1Of(path);
        QList<ComparedRow> stored;
        for (int run = 1; run <= 2; ++run)
            stored += databaseRows(server.url(), ResultImporter::derivedRunId(sha1, run));
        const QList<ComparedRow> expected = fileRows(path);
        QVERIFY2(stored == expected,
                 qPrintable(name + QStringLiteral(": ") + firstDifference(expected, stored)));
    }
}

// A file imported while its run went on, then again once it had grown by rows, a second run
// and a third without rows: the run its record names gains only the rows it lacked (the
// rows of a run the database knows and of a new one alternate in one read), the others are
// new, and every row is there once, equal to the file's.
void tst_DatabaseImport::grownFileAddsOnlyWhatIsNew()
{
    const QString path = folder.filePath(QStringLiteral("grow.txt"));
    RunRecord record;
    record.runId = RunRecord::newRunId();
    record.resultFile = path;
    record.outcome.status = QStringLiteral("stopped");
    QVERIFY(writeFileBytes(RunRecord::pathFor(path), QJsonDocument(record.toJson()).toJson()));

    // Its step 800 was not yet written: of its blocks, the last has a gap.
    QVERIFY(writeFileBytes(path, resultRun(1000, false).replace("\n800\t800\t+800.0E-03", "")));
    const Report first = report({"--db", server.url(), "--import", path});
    QVERIFY2(first.exitCode == 0, qPrintable(first.err));
    QVERIFY2(first.out.contains("grow.txt: 1 runs, 999 rows; new: 1 runs, 999 rows"),
             qPrintable(first.out));
    QCOMPARE(server.query(QStringLiteral("SELECT bool_or(rows = last_step - first_step + 1) AND "
                                         "bool_or(rows < last_step - first_step + 1) FROM "
                                         "benchtest.imported_blocks b JOIN benchtest.runs r ON "
                                         "r.id = b.run WHERE r.run_id = '%1'")
                              .arg(record.runId)),
             QStringLiteral("t"));

    QVERIFY(writeFileBytes(path,
                           resultRun(1200, true) + resultRun(4, true, 100) + resultRun(0, false)));
    const Report grown = report({"--db", server.url(), "--import", path});
    QVERIFY2(grown.exitCode == 0, qPrintable(grown.err));
    QVERIFY2(grown.out.contains("grow.txt: 3 runs, 1204 rows; new: 2 runs, 205 rows"),
             qPrintable(grown.out));

    const QByteArray sha1 = sha1Of(path);
    const QList<ComparedRow> stored =
        databaseRows(server.url(), record.runId) +
        databaseRows(server.url(), ResultImporter::derivedRunId(sha1, 2));
    const QList<ComparedRow> expected = fileRows(path);
    QCOMPARE(expected.size(), 1204);
    QVERIFY2(stored == expected, qPrintable(firstDifference(expected, stored)));
    QCOMPARE(server.query(QStringLiteral("SELECT count(*) FROM benchtest.runs r WHERE r.run_id = "
                                         "'%1' AND NOT EXISTS (SELECT 1 FROM benchtest.steps s "
                                         "WHERE s.run = r.id)")
                              .arg(ResultImporter::derivedRunId(sha1, 3))),
             QStringLiteral("1"));
}

// Cells that mean something to SQL, arrays or the blocks' own separators, rows enough for
// several blocks, one row longer than a block and a last row cut mid-cell come back as the
// file has them.
void tst_DatabaseImport::cellsKeptWhateverTheyHold()
{
    const QString path = folder.filePath(QStringLiteral("cells.txt"));
    QByteArray text = resultRun(0, false).replace("DMM1", "DMM1\tDMM2\tDMM3");
    const QByteArray odd[] = {"a\\b", "\"q\"", "{x,y}", "NULL", "", " ", "'", "µV", "E\\t"};
    for (int step = 1; step <= 2000; ++step) {
        text += QByteArray::number(step) + '\t' + QByteArray::number(step % 7);
        for (int cell = 0; cell < 3; ++cell)
            text += '\t' + odd[(step + cell) % std::size(odd)];
        if (step == 1500)
            text += '\t' + QByteArray(9000, 'x');
        text += '\n';
    }
    text += "2001\t1\t+1.5E-03\t+1.";
    QVERIFY(writeFileBytes(path, text));
    const Report imported = report({"--db", server.url(), "--import", path});
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.err));

    const QList<ComparedRow> expected = fileRows(path);
    QCOMPARE(expected.size(), 2001);
    const QString runId = ResultImporter::derivedRunId(sha1Of(path), 1);
    const QList<ComparedRow> stored = databaseRows(server.url(), runId);
    QVERIFY2(stored == expected, qPrintable(firstDifference(expected, stored)));
    const QString readBack = folder.filePath(QStringLiteral("cells-read-back.txt"));
    QVERIFY(writeFileBytes(readBack, storedText(server.url(), runId)));
    const QList<ComparedRow> reread = fileRows(readBack);
    QVERIFY2(reread == expected, qPrintable(firstDifference(expected, reread)));
    QCOMPARE(
        server.query(QStringLiteral("SELECT string_agg(s.step || ':' || s.ended || s.cut, ',') "
                                    "FROM benchtest.steps s JOIN benchtest.runs r ON "
                                    "r.id = s.run WHERE r.run_id = '%1' AND s.step > 1999")
                         .arg(runId)),
        QStringLiteral("2000:truefalse,2001:falsetrue"));
    QVERIFY(server
                .query(QStringLiteral("SELECT count(*) FROM benchtest.imported_blocks b JOIN "
                                      "benchtest.runs r ON r.id = b.run WHERE r.run_id = '%1'")
                           .arg(runId))
                .toInt() > 3);
}

// Runs are entered a batch ahead of their rows: a file of 40 runs, some without rows, is
// stored run for run and nothing beyond its last run is left behind; a second import adds
// nothing.
void tst_DatabaseImport::manyRunsEnteredAhead()
{
    const QString path = folder.filePath(QStringLiteral("many.txt"));
    QByteArray text;
    for (int run = 1; run <= 40; ++run)
        text += resultRun(run % 7 == 0 ? 0 : run % 5 + 1, true, run * 10);
    QVERIFY(writeFileBytes(path, text));
    const QString runs = QStringLiteral("SELECT count(*) FROM benchtest.runs");
    const int before = server.query(runs).toInt();
    const Report first = report({"--db", server.url(), "--import", path});
    QVERIFY2(first.exitCode == 0, qPrintable(first.err));
    QCOMPARE(server.query(runs).toInt(), before + 40);

    const QByteArray sha1 = sha1Of(path);
    QList<ComparedRow> stored;
    for (int run = 1; run <= 40; ++run)
        stored += databaseRows(server.url(), ResultImporter::derivedRunId(sha1, run));
    const QList<ComparedRow> expected = fileRows(path);
    QVERIFY2(stored == expected, qPrintable(firstDifference(expected, stored)));

    const Report again = report({"--db", server.url(), "--import", path});
    QVERIFY2(
        again.out.contains(
            QStringLiteral("many.txt: 40 runs, %1 rows; new: 0 runs, 0 rows").arg(expected.size())),
        qPrintable(again.out));
    QCOMPARE(server.query(runs).toInt(), before + 40);
}

void tst_DatabaseImport::databaseReportEqualsFileReport_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("two runs, per run") << "tworuns.txt"
                                       << "TWO_DAC" << QStringList{"--per-run"};
    QTest::newRow("two runs, pooled") << "tworuns.txt"
                                      << "TWO_*" << QStringList();
    QTest::newRow("stopped mid-cell") << "stopped.txt"
                                      << "STOPPED_DAC" << QStringList{"--per-run"};
    QTest::newRow("ERR cells, limits")
        << "err.txt"
        << "ERR_ISINK" << QStringList{"--limit", "inl=0.5", "--ideal-lsb", "0.001"};
    QTest::newRow("by test") << "bow.txt"
                             << "BOW_DAC" << QStringList{"--test", "dac"};
}

// The same analysis, the same JSON (but for where the readings came from) and exit code.
void tst_DatabaseImport::databaseReportEqualsFileReport()
{
    QFETCH(QString, file);
    QFETCH(QString, item);
    QFETCH(QStringList, options);
    QStringList fileOptions = options;
    if (fileOptions.contains("--test"))
        fileOptions.remove(fileOptions.indexOf("--test"), 2);
    const QStringList common = {"--plots", "none", "--per-code"};
    const Report fromFile = report(
        common + fileOptions +
        QStringList{"--json", folder.filePath("file.json"), "-o", folder.path(), kData + file});
    const Report fromDatabase =
        report(common + options +
               QStringList{"--json", folder.filePath("db.json"), "-o", folder.path(), "--db",
                           server.url(), "--item", item});
    QCOMPARE(fromDatabase.exitCode, fromFile.exitCode);
    const QJsonArray expected = figures(folder.filePath("file.json"));
    QVERIFY(!expected.isEmpty());
    QCOMPARE(figures(folder.filePath("db.json")), expected);
}

namespace {

QList<JournalEntry> journalRows(const QString &runId, std::initializer_list<int> steps)
{
    QList<JournalEntry> entries;
    for (const int step : steps) {
        JournalEntry entry;
        entry.runId = runId;
        entry.row = {step, step, {QStringLiteral("+%1.0E-03").arg(step)}, 0, 0};
        entries << entry;
    }
    return entries;
}

QString rowCount(const PostgresServer &server, const QString &runId)
{
    return server.query(QStringLiteral("SELECT count(*) || '/' || count(DISTINCT s.step) FROM "
                                       "benchtest.steps s JOIN benchtest.runs r ON r.id = s.run "
                                       "WHERE r.run_id = '%1'")
                            .arg(runId));
}

} // namespace

// A run entered from its file keeps its rows in blocks; its journal, sent afterwards, brings
// the same steps and one the file lacked: each is there once, the new one with its key.
void tst_DatabaseImport::journalRowsOfAnImportedRunStoredOnce()
{
    const QString path = folder.filePath(QStringLiteral("journaled.txt"));
    RunRecord record;
    record.runId = RunRecord::newRunId();
    record.resultFile = path;
    QVERIFY(writeFileBytes(RunRecord::pathFor(path), QJsonDocument(record.toJson()).toJson()));
    QVERIFY(writeFileBytes(path, resultRun(3, true)));
    const Report imported = report({"--db", server.url(), "--import", path});
    QVERIFY2(imported.exitCode == 0, qPrintable(imported.err));

    QString error;
    DatabaseConnection connection(DatabaseUrl::parse(server.url(), &error));
    QVERIFY2(connection.open(), qPrintable(connection.error()));
    RunStore store(connection.database());
    QVERIFY2(store.store(journalRows(record.runId, {1, 2, 3, 4}), &error), qPrintable(error));
    QVERIFY2(store.store(journalRows(record.runId, {2, 4}), &error), qPrintable(error));
    QCOMPARE(rowCount(server, record.runId), QStringLiteral("4/4"));
    // Its rows read back in order, from both tables, as the file would have them.
    const auto rowsOf = [](const QByteArray &text) {
        return text.mid(text.indexOf("\n1\t"));
    };
    QCOMPARE(rowsOf(storedText(server.url(), record.runId)), rowsOf(resultRun(4, false)));
    QCOMPARE(server.query(QStringLiteral("SELECT count(*) FROM benchtest.taken_steps s JOIN "
                                         "benchtest.runs r ON r.id = s.run WHERE r.run_id = '%1'")
                              .arg(record.runId)),
             QStringLiteral("1"));
}

// A database made by the first schema, with a run's rows in it, then by the second, with an
// imported run's rows (odd cells, a row cut off, one its journal brought), is taken to this
// one: every row reads as it did, and each is still kept once when a batch comes again.
void tst_DatabaseImport::upgradeKeepsEveryRowAndItsKey()
{
    (void)server.query(QStringLiteral("CREATE DATABASE upgraded")); // opening it tells
    QString error;
    const QString url =
        QStringLiteral("postgresql://benchtest@127.0.0.1:%1/upgraded").arg(server.port());
    const QString everyRow = QStringLiteral(
        "SELECT string_agg(concat_ws(' ', run, step, code, readings, ended, cut, taken_at, "
        "run_ms), E'\\n' ORDER BY run, step) FROM benchtest.steps");
    QString before;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), "old");
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(server.port());
        db.setUserName(QStringLiteral("benchtest"));
        db.setDatabaseName(QStringLiteral("upgraded"));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QVERIFY2(DatabaseSchema::migrate(db, &error, 1), qPrintable(error));
        QCOMPARE(DatabaseSchema::version(db), 1);
        QSqlQuery old(db);
        QVERIFY(old.exec("INSERT INTO benchtest.runs (id, run_id) "
                         "VALUES (7, 'a4f7c1de-0000-4000-8000-000000000007')"));
        QVERIFY(old.exec("INSERT INTO benchtest.steps (run, step, code, readings) "
                         "VALUES (7, 1, 1, '{x}'), (7, 2, 2, '{y}')"));
        QVERIFY2(DatabaseSchema::migrate(db, &error, 2), qPrintable(error));
        QVERIFY(old.exec("INSERT INTO benchtest.runs (id, run_id, rows_imported) "
                         "VALUES (8, 'a4f7c1de-0000-4000-8000-000000000008', true)"));
        QVERIFY(old.exec(R"(INSERT INTO benchtest.imported_steps
            (run, step, code, readings, ended, cut, taken_at, run_ms) VALUES
            (8, 1, 5, '{"a\\b","{x,y}","","NULL"," µ ",E\\t}', true, false, NULL, NULL),
            (8, 2, 6, '{}', true, false, NULL, NULL),
            (8, 4, 7, '{z}', true, false, '2026-12-07 10:00:00+00', 1500),
            (8, 9, 8, '{+1.0E-03}', false, true, NULL, NULL))"));
        QVERIFY(old.exec(everyRow) && old.next());
        before = old.value(0).toString();
        db.close();
    }
    QSqlDatabase::removeDatabase("old");

    DatabaseConnection connection(DatabaseUrl::parse(url, &error));
    QVERIFY2(connection.open(), qPrintable(connection.error()));
    QCOMPARE(DatabaseSchema::version(connection.database()), DatabaseSchema::currentVersion());
    QSqlQuery check(connection.database());
    QVERIFY(check.exec(everyRow) && check.next());
    QCOMPARE(check.value(0).toString(), before);

    RunStore store(connection.database());
    QVERIFY2(
        store.store(journalRows(QStringLiteral("a4f7c1de-0000-4000-8000-000000000007"), {2, 3}),
                    &error),
        qPrintable(error));
    QVERIFY2(store.store(
                 journalRows(QStringLiteral("a4f7c1de-0000-4000-8000-000000000008"), {1, 4, 9, 10}),
                 &error),
             qPrintable(error));
    QVERIFY(check.exec("SELECT string_agg(concat_ws('/', n, d, rows_stored), ' ' ORDER BY run_id) "
                       "FROM (SELECT r.run_id, count(*) AS n, count(DISTINCT s.step) AS d "
                       "      FROM benchtest.steps s JOIN benchtest.runs r ON r.id = s.run "
                       "      GROUP BY r.run_id) c JOIN benchtest.run_summary USING (run_id)"));
    QVERIFY(check.next());
    QCOMPARE(check.value(0).toString(), QStringLiteral("3/3/3 5/5/5"));
}

void tst_DatabaseImport::badUsage()
{
    QCOMPARE(report({"--item", "X", kData + "bow.txt"}).exitCode, 2);
    QCOMPARE(report({"--db", "mysql://h/db"}).exitCode, 2);
    QCOMPARE(report({"--db", server.url(), kData + "bow.txt"}).exitCode, 2);
    QCOMPARE(report({"--db", server.url(), "--since", "yesterday"}).exitCode, 2);
    const Report none = report({"--db", server.url(), "--item", "NO_SUCH_ITEM"});
    QCOMPARE(none.exitCode, 1);
    QVERIFY(none.err.contains("no run in the database matches"));
}

QTEST_GUILESS_MAIN(tst_DatabaseImport)
#include "tst_databaseimport.moc"
