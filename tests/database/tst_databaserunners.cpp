// Runs that land in a PostgreSQL database the test starts itself, on one simulated bench:
// benchtest-run processes writing at once, and a run from the window whose configuration
// file names the database. Every row of every run is there, equal to its file, and each
// run says so, in its record (and a runner on standard error).
#include "context/TestContext.h"
#include "record/RunRecord.h"
#include "settings/ConfigLocation.h"
#include "tests/database/StoredRows.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/WindowDriver.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

class tst_DatabaseRunners : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twentyRunnersStoreEveryRow();
    void windowRunLandsInTheDatabase();
    void badDatabaseUrlRefusesTheRun();

private:
    PostgresServer server;
    SimulatedBench bench;
};

void tst_DatabaseRunners::initTestCase()
{
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    if (PostgresServer::isAvailable())
        QVERIFY2(server.start(), qPrintable(server.error()));
}

void tst_DatabaseRunners::twentyRunnersStoreEveryRow()
{
    if (!PostgresServer::isAvailable())
        QSKIP("PostgreSQL 15 is not installed: scripts/setup installs it");
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
    // Of these runs: the window's run may share the database.
    QCOMPARE(server.query("SELECT count(*), count(DISTINCT s.run) FROM benchtest.steps s JOIN "
                          "benchtest.runs r ON r.id = s.run WHERE r.item LIKE 'LOT9-%'"),
             QStringLiteral("%1|%2").arg(runners * steps).arg(runners));
    QCOMPARE(server.query("SELECT count(*) FROM benchtest.runs WHERE status = 'finished' AND "
                          "item LIKE 'LOT9-%'"),
             QString::number(runners));
}

// The window's thread goes on after the run: its record is amended once the sink has settled.
void tst_DatabaseRunners::windowRunLandsInTheDatabase()
{
    if (!PostgresServer::isAvailable())
        QSKIP("PostgreSQL 15 is not installed: scripts/setup installs it");
    QTemporaryDir home;
    const QString config = home.filePath(QStringLiteral("config.ini"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[database]\nurl=%1\n").arg(server.url()).toUtf8());
    file.close();
    qputenv(kConfigFileVariable, QFile::encodeName(config));
    const auto restore = qScopeGuard([] { qunsetenv(kConfigFileVariable); });

    WindowDriver driver(bench);
    driver.setParams({"6", "0", "2", "0"});
    driver.clickStart();
    QVERIFY(driver.waitIdle(60000));
    const QString resultFile = TestContext.resultFilePath;
    std::optional<RunRecord> record;
    QVERIFY(WindowDriver::waitUntil(
        [&] { return (record = RunRecord::readBeside(resultFile)) && record->database; }, 30000));
    QVERIFY2(record->database->complete, qPrintable(record->database->summary()));
    QVERIFY(record->outcome.clean);
    const QList<ComparedRow> expected = fileRows(resultFile);
    QCOMPARE(expected.size(), 6);
    const QList<ComparedRow> actual = databaseRows(server.url(), record->runId);
    QVERIFY2(expected == actual, qPrintable(firstDifference(expected, actual)));
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

QTEST_MAIN(tst_DatabaseRunners)
#include "tst_databaserunners.moc"
