// The run record: its JSON form, old records read back, and the file it is
// kept in, which never holds a half-written or another run's record.
#include "record/RunRecord.h"
#include "record/UnfinishedRuns.h"
#include "results/RecordFile.h"
#include "tests/support/FailingFileSystem.h"
#include "tests/support/FileBytes.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

class tst_RecordFile : public QObject
{
    Q_OBJECT

private slots:
    void json_roundTrip();
    void json_readsFirstRecordsAndRefusesOthers();
    void neverReplacesWhatIsNotItsOwn_data();
    void neverReplacesWhatIsNotItsOwn();
    void failedWrite_leavesTheLastGoodRecord();
    void unfinishedRunsOfAFolder();
};

void tst_RecordFile::json_roundTrip()
{
    RunRecord record;
    record.runId = RunRecord::newRunId();
    record.software = QStringLiteral("benchtest 0.1");
    record.test = QStringLiteral("ISINK");
    record.testItem = QStringLiteral("板 1");
    record.parametersTyped = {"3", "", "x", "1"};
    record.parametersUsed = {3, 0, 0, 1};
    record.meter = {QStringLiteral("TCPIP::h::5025::SOCKET"), QString(), {"*CLS", "CONF:CURR:DC"}};
    record.resultFile = QStringLiteral("/r/a.txt");
    record.recoveryFile = QStringLiteral("/q/a.txt");
    record.continuedIn = QStringLiteral("/q/a.txt");
    record.started = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::OffsetFromUTC, 3600);
    record.ended = record.started.addSecs(61);
    record.durationMs = 61000;
    record.outcome.status = QStringLiteral("stopped");
    record.outcome.summary = QStringLiteral("stopped after 1 of 3 steps");
    record.outcome.notMeasurements = 2;
    record.outcome.recordWritesFailed = 1;
    RunRecord::Segment killed;
    killed.started = record.started;
    killed.lastStep = 2;
    killed.endedAs = QStringLiteral("interrupted");
    killed.cut = QStringLiteral("3\t3\t+1.0");
    RunRecord::Segment resumed;
    resumed.started = record.started.addSecs(30);
    resumed.ended = record.ended;
    resumed.firstStep = 3;
    resumed.lastStep = 3;
    resumed.endedAs = QStringLiteral("stopped");
    resumed.stoppedBy = QStringLiteral("SIGINT");
    record.segments = {killed, resumed};
    record.outcome.supplyNotMeasured = 3;
    record.outcome.supplyLeftOn = true;
    record.supply =
        RunRecord::Supply{"TCPIP::p::5025::SOCKET", "BenchSim,66309D", 2, 3.3, 0.05, true};
    record.plan = QJsonObject{{"test", "isink"}, {"supply", QJsonObject{{"voltage", 3.3}}}};

    const QJsonObject json = record.toJson();
    QCOMPARE(json.value("schemaVersion").toInt(), RunRecord::kSchemaVersion);
    QVERIFY(json.value("meter").toObject().value("identity").isNull());
    const std::optional<RunRecord> back = RunRecord::fromJson(json);
    QVERIFY(back);
    QCOMPARE(back->toJson(), json);
    QCOMPARE(back->started, record.started);
    QCOMPARE(back->segments.at(0).cut, killed.cut);
    QVERIFY(!back->segments.at(0).ended.isValid());
    QCOMPARE(back->segments.at(1).stoppedBy, QStringLiteral("SIGINT"));
    QVERIFY(back->supply && back->supply->channel == 2);
    QCOMPARE(back->supply->currentLimit, 0.05);
    QCOMPARE(back->plan, record.plan);

    // A run without a supply or a plan (the window's) says so with nulls.
    RunRecord window;
    QVERIFY(window.toJson().value("supply").isNull() && window.toJson().value("plan").isNull());
    QVERIFY(!RunRecord::fromJson(window.toJson())->supply);

    // A running record says no more than that it runs; a run never resumed has no segments.
    RunRecord running;
    QCOMPARE(running.toJson().value("outcome").toObject().keys(), QStringList({"status"}));
    QVERIFY(!running.toJson().contains("segments"));
    QVERIFY(!RunRecord::fromJson(running.toJson())->hasEnded());
}

void tst_RecordFile::json_readsFirstRecordsAndRefusesOthers()
{
    // The first records had no version, no run id and no monotonic duration.
    const QByteArray first = R"({"software":"benchtest 0.1","test":"DAC",
        "parametersUsed":{"steps":64,"settleMs":100,"readingsPerStep":3,"readingIntervalMs":100},
        "meter":{"resource":"r","identity":"BenchSim,34461A","setup":["*CLS"]},
        "resultFile":"/r/a.txt","recoveryFile":null,"started":"2026-12-06T10:52:25+01:00",
        "ended":null,"outcome":{"status":"finished","clean":true,"stepsDone":64}})";
    const std::optional<RunRecord> old =
        RunRecord::fromJson(QJsonDocument::fromJson(first).object());
    QVERIFY(old);
    QCOMPARE(old->schemaVersion, 1);
    QCOMPARE(old->parametersUsed.steps, 64);
    QCOMPARE(old->meter.identity, QStringLiteral("BenchSim,34461A"));
    QCOMPARE(old->durationMs, -1);
    QVERIFY(old->outcome.clean);

    // A version 2 record: no supply, no plan, no supply counts, no database.
    const QByteArray second = R"({"schemaVersion":2,"runId":"r2","test":"DAC",
        "parametersUsed":{"steps":3},"serialDevice":null,"recoveryFile":null,
        "outcome":{"status":"finished","clean":true,"stepsDone":3,"recordWritesFailed":0}})";
    const std::optional<RunRecord> two =
        RunRecord::fromJson(QJsonDocument::fromJson(second).object());
    QVERIFY(two);
    QCOMPARE(two->schemaVersion, 2);
    QVERIFY(!two->supply && two->plan.isEmpty());
    QVERIFY(!two->database && !two->toJson().contains("database")); // none made up, none written
    QVERIFY(two->outcome.clean && !two->outcome.supplyLeftOn);
    QCOMPARE(two->outcome.supplyNotMeasured, 0);

    QVERIFY(!RunRecord::fromJson(QJsonObject()));
    QVERIFY(!RunRecord::fromJson(QJsonObject{{"schemaVersion", RunRecord::kSchemaVersion + 1},
                                             {"outcome", QJsonObject{{"status", "finished"}}}}));
}

// A record never replaces what is not this run's: a file, a link or a dangling
// link under its name before the first write, or put in place of it after.
void tst_RecordFile::neverReplacesWhatIsNotItsOwn_data()
{
    QTest::addColumn<QString>("there");
    QTest::addColumn<bool>("afterTheFirstWrite");
    QTest::newRow("another run's record") << "file" << false;
    QTest::newRow("link to a victim") << "link" << false;
    QTest::newRow("dangling link") << "dangling" << false;
    QTest::newRow("replaced by a file") << "file" << true;
    QTest::newRow("replaced by a link") << "link" << true;
}

void tst_RecordFile::neverReplacesWhatIsNotItsOwn()
{
    QFETCH(QString, there);
    QFETCH(bool, afterTheFirstWrite);
    QTemporaryDir dir;
    const QString path = dir.filePath("run.json");
    const QString victim = dir.filePath("victim");
    QVERIFY(writeFileBytes(victim, "victim"));
    RecordFile record;
    record.setPath(path);
    QString error;
    if (afterTheFirstWrite) {
        QVERIFY(record.write("one", &error));
        QVERIFY(QFile::remove(path));
    }
    if (there == "file")
        QVERIFY(writeFileBytes(path, "theirs"));
    else
        QVERIFY(QFile::link(there == "link" ? victim : dir.filePath("nowhere"), path));

    QVERIFY(!record.write("ours", &error));
    QVERIFY2(error.contains(afterTheFirstWrite ? "no longer this run's record" : "exists already"),
             qPrintable(error));
    QCOMPARE(fileBytes(victim), QByteArray("victim"));
    QVERIFY(!QFileInfo::exists(dir.filePath("nowhere")));
    if (there == "file")
        QCOMPARE(fileBytes(path), QByteArray("theirs"));
}

// The n-th operation of a second write fails, for every n: the record is
// then a whole record, the first or the second (the second only once it is
// synced), never a mix, and no temporary file is left in the folder.
void tst_RecordFile::failedWrite_leavesTheLastGoodRecord()
{
    const QByteArray first = QByteArray(3000, 'a');
    const QByteArray second = QByteArray(200, 'b');
    QString error;
    qint64 firstOperations = 0;
    qint64 secondOperations = 0;
    {
        QTemporaryDir dir;
        FailingFileSystem counting;
        RecordFile record(counting);
        record.setPath(dir.filePath("run.json"));
        QVERIFY(record.write(first, &error));
        firstOperations = counting.operations();
        QVERIFY(record.write(second, &error));
        secondOperations = counting.operations() - firstOperations;
    }
    QVERIFY(secondOperations >= 5);

    for (qint64 n = 1; n <= secondOperations; ++n) {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.json");
        FailingFileSystem failing(firstOperations + n);
        {
            RecordFile record(failing);
            record.setPath(path);
            QVERIFY(record.write(first, &error));
            const bool written = record.write(second, &error);
            const QString where =
                QStringLiteral("n=%1 (%2): %3").arg(n).arg(failing.failed(), error);
            QVERIFY2(!failing.failed().isEmpty() && !written, qPrintable(where));
            const QByteArray onDisk = fileBytes(path);
            QVERIFY2(onDisk == first || onDisk == second, qPrintable(where));
        }
        QCOMPARE(
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{"run.json"});
    }
}

// The runs of a folder that can be taken up again, by their records: not the
// finished ones, not those whose rest is in a recovery file, not a record
// without its result file.
void tst_RecordFile::unfinishedRunsOfAFolder()
{
    QTemporaryDir folder;
    const auto leave = [&folder](const QString &name, const QString &status, bool withFile,
                                 const QString &recovery = QString()) {
        const QString resultFile = folder.filePath(name + ".txt");
        RunRecord record;
        record.resultFile = resultFile;
        record.outcome.status = status;
        record.recoveryFile = recovery;
        QFile json(RunRecord::pathFor(resultFile));
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write(QJsonDocument(record.toJson()).toJson());
        if (withFile) {
            QFile file(resultFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    };
    leave("finished", "finished", true);
    leave("killed", "running", true);
    leave("stopped", "stopped", true);
    leave("moved on", "failed", true, "/elsewhere/x.txt");
    leave("no file", "stopped", false);
    QStringList found = unfinishedRuns(folder.path());
    std::sort(found.begin(), found.end());
    QCOMPARE(found, QStringList({folder.filePath("killed.txt"), folder.filePath("stopped.txt")}));
    QCOMPARE(resumeCommand("/lab/it's here.txt"),
             QStringLiteral("benchtest-run --resume '/lab/it'\\''s here.txt'"));
}

QTEST_GUILESS_MAIN(tst_RecordFile)
#include "tst_recordfile.moc"
