// A run started from the window, whose configuration file names a database: the run lands
// in the PostgreSQL server the test starts, row for row as in its file, and its record says,
// once the database has settled, that the database has the whole run.
#include "context/TestContext.h"
#include "record/RunRecord.h"
#include "settings/ConfigLocation.h"
#include "tests/database/StoredRows.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/WindowDriver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

class tst_DatabaseWindow : public QObject
{
    Q_OBJECT

private slots:
    void windowRunLandsInTheDatabase();
};

void tst_DatabaseWindow::windowRunLandsInTheDatabase()
{
    if (!PostgresServer::isAvailable())
        QSKIP("PostgreSQL 15 is not installed: scripts/setup installs it");
    PostgresServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    SimulatedBench bench;
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    QTemporaryDir home;
    const QString config = home.filePath(QStringLiteral("config.ini"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[database]\nurl=%1\n").arg(server.url()).toUtf8());
    file.close();
    qputenv(kConfigFileVariable, QFile::encodeName(config));

    WindowDriver driver(bench);
    driver.setParams({"6", "0", "2", "0"});
    driver.clickStart();
    QVERIFY(driver.waitIdle(60000));
    const QString resultFile = TestContext.resultFilePath;
    QVERIFY(!resultFile.isEmpty());

    // The window's thread goes on meanwhile: the record is amended once the sink has settled.
    std::optional<RunRecord> record;
    QVERIFY(WindowDriver::waitUntil(
        [&] {
            record = RunRecord::readBeside(resultFile);
            return record && record->database;
        },
        30000));
    QVERIFY2(record->database->complete, qPrintable(record->database->summary()));
    QCOMPARE(record->database->rowsStored, 6);
    QVERIFY(record->outcome.clean);

    const QList<ComparedRow> expected = fileRows(resultFile);
    QCOMPARE(expected.size(), 6);
    const QList<ComparedRow> actual = databaseRows(server.url(), record->runId);
    QVERIFY2(expected == actual, qPrintable(firstDifference(expected, actual)));
    qunsetenv(kConfigFileVariable);
}

QTEST_MAIN(tst_DatabaseWindow)
#include "tst_databasewindow.moc"
