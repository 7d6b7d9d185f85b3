// benchtest-run --events json as a test executive reads it: every line of a
// real run parsed, numbered and stamped, against the result file and the
// exit status: a clean run powered by the supply, a run whose board goes away
// (faults), and a run stopped by Ctrl-C. Human progress goes to standard
// error. First the writer on its own.
#include "tests/support/FileBytes.h"
#include "tests/support/RunnerProcess.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/SimulatorProcess.h"
#include "tools/runner/RunEvents.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>

namespace {

// The step rows of a result file, by step, as cells.
QMap<qint64, QStringList> resultRows(const QString &path)
{
    QMap<qint64, QStringList> rows;
    const QStringList lines = QString::fromUtf8(fileBytes(path)).split(QLatin1Char('\n'));
    for (qsizetype i = 6; i < lines.size() && !lines.at(i).isEmpty(); ++i) {
        const QStringList cells = lines.at(i).split(QLatin1Char('\t'));
        rows.insert(cells.value(0).toLongLong(), cells);
    }
    return rows;
}

// Every line of standard output one event: parsed, in sequence, stamped on
// both clocks. Fails the test (and returns what it has) on the first that is not.
QList<QJsonObject> parseEvents(const QByteArray &out)
{
    QList<QJsonObject> events;
    if (!out.isEmpty() && !out.endsWith('\n')) {
        QTest::qFail("the last event has no line end", __FILE__, __LINE__);
        return events;
    }
    qint64 lastT = 0;
    QDateTime lastWall;
    const QList<QByteArray> lines =
        out.isEmpty() ? QList<QByteArray>() : out.chopped(1).split('\n');
    for (const QByteArray &line : lines) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        const QJsonObject event = document.object();
        const QDateTime wall =
            QDateTime::fromString(event["wallTime"].toString(), Qt::ISODateWithMs);
        const bool ordered = event["seq"].toInteger(-1) == events.size() &&
                             event["t"].toInteger(-1) >= lastT && wall.isValid() &&
                             wall.timeSpec() == Qt::UTC &&
                             (!lastWall.isValid() || wall >= lastWall.addSecs(-1)) &&
                             event.contains("schemaVersion") == events.isEmpty();
        if (error.error != QJsonParseError::NoError || !document.isObject() || !ordered) {
            QTest::qFail(qPrintable("not an event in sequence: " + QString::fromUtf8(line)),
                         __FILE__, __LINE__);
            return events;
        }
        lastT = event["t"].toInteger();
        lastWall = wall;
        events << event;
    }
    return events;
}

QStringList names(const QList<QJsonObject> &events)
{
    QStringList list;
    for (const QJsonObject &event : events)
        list << event["event"].toString();
    return list;
}

} // namespace

class tst_RunnerEvents : public QObject
{
    Q_OBJECT

private slots:
    void writerLinesOfJson();
    void cleanPoweredRun_everyLineAnEvent();
    void boardGone_faultsAndANotCleanEnd();
    void stoppedByCtrlC_endsStopped();

private:
    QTemporaryDir work;
};

// The writer alone, on its own clocks: numbered and stamped, the schema's
// version first, readings as text and as measurements.
void tst_RunnerEvents::writerLinesOfJson()
{
    qint64 now = 0;
    const QDateTime started(QDate(2026, 12, 6), QTime(9, 52, 25), Qt::UTC);
    const auto wallClock = [&now, &started] {
        return started.addMSecs(now);
    };
    std::FILE *file = std::tmpfile();
    {
        RunEvents events(file, {[&now] { return now; }, wallClock});
        events.start(QJsonObject{{"test", "dac"}}, QJsonObject{{"meter", "BenchSim"}}, "/r/x.txt");
        now = 612;
        events.step(1, 4095, {"+1.00000000E+00", "ERR", "+9.90000000E+37", "-9.9E37", "NAN"});
        events.fault("Value 2 not sent\n\"port gone\"", 2); // stays on its line
        events.end("stopped", false, QJsonObject{{"errCells", 1}}, "stopped with 1 ERR cell", 130);
    }
    std::rewind(file);
    QByteArray bytes(4096, '\0');
    bytes.truncate(qsizetype(std::fread(bytes.data(), 1, size_t(bytes.size()), file)));
    std::fclose(file);

    const QList<QJsonObject> events = parseEvents(bytes);
    QCOMPARE(names(events), QStringList({"start", "step", "fault", "end"}));
    QCOMPARE(events[0]["schemaVersion"].toInt(), RunEvents::kSchemaVersion);
    const QJsonObject step = events[1];
    QCOMPARE(step["t"].toInteger(), 612);
    QCOMPARE(step["wallTime"].toString(), QStringLiteral("2026-12-06T09:52:25.612Z"));
    QCOMPARE(step["readings"][2].toString(), QStringLiteral("+9.90000000E+37"));
    // Only a finite reading below the meter's overload value is a measurement.
    QCOMPARE(step["values"].toArray(), QJsonArray({1.0, QJsonValue::Null, QJsonValue::Null,
                                                   QJsonValue::Null, QJsonValue::Null}));
}

void tst_RunnerEvents::cleanPoweredRun_everyLineAnEvent()
{
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--board", "--gain", "0.0005"}), qPrintable(sim.error()));
    const QString plan = work.filePath("powered.ini");
    QVERIFY(writeFileBytes(plan, "[test]\nitem = R7\n[sweep]\ncodes = 0:40:10\ndirection = updown\n"
                                 "[timing]\nsettle-ms = 0\nreadings = 2\ninterval-ms = 0\n"
                                 "[meter]\nresource = " +
                                     sim.address("dmm").toUtf8() +
                                     "\nexpect-idn = ^BenchSim,34461A,\n[board]\nserial = " +
                                     sim.address("board").toUtf8() +
                                     "\n[supply]\nresource = " + sim.address("pwr").toUtf8() +
                                     "\nvoltage = 5\ncurrent-limit = 0.1\nread-current = yes\n"));
    QTemporaryDir results;
    RunnerProcess runner(QStringLiteral(BENCHTEST_RUN), work.filePath("none.ini"));
    const RunnerProcess::Ended ended =
        runner.run({"--plan", plan, "--output", results.path(), "--events", "json"});
    QVERIFY2(ended.status == 0, qPrintable(ended.err));
    // People's progress on standard error, nothing but events on standard output.
    QVERIFY2(ended.err.contains("step 8/9"), qPrintable(ended.err));

    const QList<QJsonObject> events = parseEvents(ended.out);
    QCOMPARE(names(events), QStringList({"start", "step", "step", "step", "step", "step", "step",
                                         "step", "step", "step", "end"}));
    const QJsonObject start = events.first();
    QVERIFY(start["identities"]["supply"].toString().startsWith("BenchSim,66309D,"));
    const QString file = start["resultFile"].toString();
    QVERIFY2(file.startsWith(results.path() + "/[AutoTest][R7]"), qPrintable(file));

    // Each step as its row went into the file.
    const QMap<qint64, QStringList> rows = resultRows(file);
    const QList<int> codes{0, 10, 20, 30, 40, 30, 20, 10, 0};
    for (int k = 1; k <= 9; ++k) {
        const QJsonObject step = events[k];
        const QStringList row = rows.value(k);
        QCOMPARE(step["step"].toInt(), k);
        QCOMPARE(step["code"].toInt(), codes[k - 1]);
        QCOMPARE(row.value(1).toInt(), codes[k - 1]);
        QCOMPARE(step["readings"].toArray(), QJsonArray::fromStringList(row.mid(2, 2)));
        QCOMPARE(step["values"][0].toDouble(), row.value(2).toDouble());
        QCOMPARE(step["supplyReading"].toString(), row.value(4));
        QVERIFY(qAbs(step["supplyValue"].toDouble() - (0.02 + 1e-5 * codes[k - 1])) < 1e-9);
    }

    const QJsonObject end = events.last();
    QCOMPARE(end["status"].toString(), QStringLiteral("finished"));
    QVERIFY(end["clean"].toBool());
    QCOMPARE(end["counts"]["supplyLeftOn"].toBool(true), false);
    QCOMPARE(end["resultFile"].toString(), file);
}

// The board's process ends mid-run: each value after it is a fault event in
// the step it happened; the run goes on and ends not clean.
void tst_RunnerEvents::boardGone_faultsAndANotCleanEnd()
{
    SimulatedBench bench;
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    QTemporaryDir results;
    RunnerProcess runner(QStringLiteral(BENCHTEST_RUN), work.filePath("none.ini"));
    QVERIFY(runner.start({"--var1", "12", "--var2", "40", "--var3", "1", "--var4", "0", "--dmm",
                          bench.meterResource(), "--serial", bench.boardPath(), "--output",
                          results.path(), "--events", "json"}));
    QVERIFY2(runner.waitFor("\"step\":3,"), "no third step");
    bench.stopBoard();
    const RunnerProcess::Ended ended = runner.finish();
    QVERIFY2(ended.status == 1, qPrintable(ended.err));

    const QList<QJsonObject> events = parseEvents(ended.out);
    QCOMPARE(names(events).count("step"), 12);
    qint64 lastStep = 0;
    QList<qint64> faultSteps;
    for (const QJsonObject &event : events) {
        if (event["event"] == "step")
            lastStep = event["step"].toInteger();
        if (event["event"] == "fault") {
            QVERIFY2(event["message"].toString().contains("not sent to the board"),
                     qPrintable(event["message"].toString()));
            QCOMPARE(event["step"].toInteger(), lastStep + 1); // the step under way
            faultSteps << event["step"].toInteger();
        }
    }
    QVERIFY2(!faultSteps.isEmpty() && faultSteps.first() > 3, "no fault after the third step");
    const QJsonObject end = events.last();
    QVERIFY(!end["clean"].toBool(true));
    QCOMPARE(end["counts"]["valuesNotSent"].toInt(), faultSteps.size());
    QCOMPARE(end["exitStatus"].toInt(), 1);
}

void tst_RunnerEvents::stoppedByCtrlC_endsStopped()
{
    SimulatedBench bench;
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    QTemporaryDir results;
    RunnerProcess runner(QStringLiteral(BENCHTEST_RUN), work.filePath("none.ini"));
    QVERIFY(runner.start({"--var1", "40", "--var2", "30", "--var3", "2", "--var4", "5", "--dmm",
                          bench.meterResource(), "--serial", bench.boardPath(), "--output",
                          results.path(), "--events", "json"}));
    QVERIFY2(runner.waitFor("\"step\":2,"), "no second step");
    runner.signal(SIGINT);
    const RunnerProcess::Ended ended = runner.finish();
    QCOMPARE(ended.status, 128 + SIGINT);
    QVERIFY2(ended.err.contains("benchtest-run: stopped by SIGINT after "), qPrintable(ended.err));
    const QList<QJsonObject> events = parseEvents(ended.out);
    const QJsonObject end = events.last();
    QCOMPARE(end["status"].toString(), QStringLiteral("stopped"));
    QCOMPARE(end["exitStatus"].toInt(), 128 + SIGINT);
    QCOMPARE(end["counts"]["stepsDone"].toInteger(), names(events).count("step"));
    QCOMPARE(end["counts"]["stepsPlanned"].toInt(), 40);
    // What a stop leaves in the file: tests/engine (tst_runengine, tst_runintegrity).
}

QTEST_GUILESS_MAIN(tst_RunnerEvents)
#include "tst_runnerevents.moc"
