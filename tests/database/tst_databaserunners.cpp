// benchtest-run processes writing into one PostgreSQL database at once, on one simulated
// meter: every row of every run is there, equal to its file, and each says so, on standard
// error and in its record.
#include "record/RunRecord.h"
#include "tests/database/StoredRows.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SimulatedBench.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

class tst_DatabaseRunners : public QObject
{
    Q_OBJECT

private slots:
    void twentyRunnersStoreEveryRow();
    void badDatabaseUrlRefusesTheRun();
};

void tst_DatabaseRunners::twentyRunnersStoreEveryRow()
{
    if (!PostgresServer::isAvailable())
        QSKIP("PostgreSQL 15 is not installed: scripts/setup installs it");
    PostgresServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    SimulatedBench bench;
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    QTemporaryDir folder;

    const int runners = 20;
    const int steps = 8;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < runners; ++i) {
        auto process = std::make_unique<QProcess>();
        // One folder each: the file names need not race for the same second.
        const QString output = folder.filePath(QString::number(i));
        QVERIFY(QDir().mkpath(output));
        process->start(QStringLiteral(BENCHTEST_RUN),
                       {"--db", server.url(), "--dmm", bench.meterResource(), "--item",
                        QStringLiteral("LOT9-%1").arg(i), "--tester", "QA", "--var1",
                        QString::number(steps), "--var2", "0", "--var3", "2", "--var4", "0",
                        "--output", output});
        processes.push_back(std::move(process));
    }
    for (int i = 0; i < runners; ++i) {
        QProcess &process = *processes[size_t(i)];
        QVERIFY(process.waitForFinished(180000));
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(process.exitCode() == 0, qPrintable(err));
        QVERIFY2(
            err.contains(
                QStringLiteral("database: the database has the whole run (%1 rows)").arg(steps)),
            qPrintable(err));
        const QString file =
            QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed().split('\n').last();
        const QString runId = server.query(
            QStringLiteral("SELECT run_id FROM benchtest.runs WHERE result_file = '%1'")
                .arg(QString(file).replace('\'', "''")));
        QVERIFY2(!runId.isEmpty(), qPrintable(file));
        const QList<ComparedRow> expected = fileRows(file);
        QCOMPARE(expected.size(), steps);
        const QList<ComparedRow> actual = databaseRows(server.url(), runId);
        QVERIFY2(expected == actual, qPrintable(firstDifference(expected, actual)));
        const std::optional<RunRecord> record = RunRecord::readBeside(file);
        QVERIFY(record && record->database);
        QVERIFY2(record->database->complete, qPrintable(record->database->summary()));
        QCOMPARE(record->database->rowsStored, steps);
    }
    QCOMPARE(server.query("SELECT count(*), count(DISTINCT run) FROM benchtest.steps"),
             QStringLiteral("%1|%2").arg(runners * steps).arg(runners));
    QCOMPARE(server.query("SELECT count(*) FROM benchtest.runs WHERE status = 'finished'"),
             QString::number(runners));
}

void tst_DatabaseRunners::badDatabaseUrlRefusesTheRun()
{
    QTemporaryDir folder;
    QProcess process;
    process.start(QStringLiteral(BENCHTEST_RUN),
                  {"--db", "postgresql://host", "--allow-no-meter", "--output", folder.path()});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(QString::fromLocal8Bit(process.readAllStandardError()).contains("names no database"));
    QVERIFY(QDir(folder.path()).isEmpty());
}

QTEST_GUILESS_MAIN(tst_DatabaseRunners)
#include "tst_databaserunners.moc"
