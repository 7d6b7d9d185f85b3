// The multimeter stalls or drops its connection mid-run: the run goes on,
// stays stoppable, keeps what the meter delivered and logs what went wrong.
// Replies of the wrong shape (a NUL byte, over-long, not UTF-8) are the
// driver's tests' (tst_dmm34461a, and the 100 kB reply below).
#include "context/TestContext.h"
#include "instruments/DMM_34461A.h"
#include "tests/faults/ResultFile.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SimulatedBench.h"
#include "tests/support/WindowDriver.h"

#include <QTest>

namespace {

const QString kNormal = QStringLiteral("+1.23456789E+00");

} // namespace

class tst_MeterFaults : public QObject
{
    Q_OBJECT

private slots:
    void meterFault_data();
    void meterFault();
    void everyReadingBelongsToItsQuery_data();
    void everyReadingBelongsToItsQuery();
};

void tst_MeterFaults::meterFault_data()
{
    QTest::addColumn<QStringList>("options");
    // Readings answered before it fails; -n: the nth and perhaps the n+1th lost.
    QTest::addColumn<int>("delivered");
    QTest::addColumn<QString>("failure"); // the log line that names it

    // A meter that never answers at all: tst_dmm34461a and tst_runnerplan.
    QTest::newRow("answers after 3 s, beyond the I/O timeout")
        << QStringList{"--dmm-fault", "slow:3000"} << 0 << "DMM_34461A: Comm Failed";
    // The meter is still there: the driver connects again and goes on.
    QTest::newRow("drops the connection after 3 readings")
        << QStringList{"--dmm-fault", "disconnect:4"} << -3 << "DMM_34461A: Reconnected [";
}

void tst_MeterFaults::meterFault()
{
    QFETCH(QStringList, options);
    QFETCH(int, delivered);
    QFETCH(QString, failure);

    SimulatedBench bench;
    QVERIFY2(bench.start(options), qPrintable(bench.error()));
    WindowDriver run(bench);
    // Three steps of two readings; stopped by the operator during the third.
    run.setParams({"3", "20", "2", "10"});
    run.clickStart();
    const auto rowsDone = [&] {
        return ResultFile::parse(run.resultBytes()).rows.size();
    };
    QVERIFY2(WindowDriver::waitUntil([&] { return rowsDone() >= 3 || run.isIdle(); }, 15000),
             "the run stalled");
    QVERIFY2(!run.isIdle(), "the run ended by itself before the operator stopped it");
    QVERIFY(run.stopAndStayStopped());

    const ResultFile file = ResultFile::parse(run.resultBytes());
    QVERIFY2(file.stray.isEmpty(), qPrintable(file.stray.join('|')));
    QCOMPARE(file.heading, QStringLiteral("No.\tDAC\tDMM1\tDMM2"));
    QVERIFY(file.rows.size() >= 3);
    for (int i = 0; i < file.rows.size(); ++i) {
        QCOMPARE(file.rows[i].value(0), QString::number(i + 1));
        QCOMPARE(file.rows[i].value(1), QString::number(i + 1));
    }
    // Every reading the meter delivered is there, in its place; every later one is ERR.
    const QStringList cells = file.readings();
    QVERIFY(cells.size() >= 4);
    for (int i = 0; i < cells.size(); ++i) {
        // The reading that came just before the connection went cannot be
        // told from a stray whose true answer went with it: it is lost. So
        // may be the next, unless the drop shows before its query: the
        // driver then connects again first.
        const bool lost = delivered < 0 ? i == -delivered - 1 : i >= delivered;
        if (lost)
            QCOMPARE(cells[i], QStringLiteral("ERR"));
        else if (delivered < 0 && i == -delivered)
            QVERIFY2(cells[i] == "ERR" || cells[i] == kNormal, qPrintable(cells[i]));
        else
            QCOMPARE(cells[i], kNormal);
    }

    const QString named = run.logLine(failure);
    QVERIFY2(!named.isEmpty(), qPrintable(run.log().lines().join('\n')));
}

// A meter that answers late, twice or at length: every reading is the reply
// to its own query or empty (ERR), never another query's, and the link is in
// step again for the next one. The drivers' I/O timeout is 2 s.
void tst_MeterFaults::everyReadingBelongsToItsQuery_data()
{
    QTest::addColumn<QByteArray>("reply");    // the meter's answer to the second query
    QTest::addColumn<int>("delayMs");         // and how long it thinks about it
    QTest::addColumn<bool>("resynchronised"); // an *IDN? brought the link back in step
    QTest::newRow("stalls 2.5 s") << QByteArray("+2\n") << 2500 << true;
    QTest::newRow("stalls 6 s") << QByteArray("+2\n") << 6000 << true;
    QTest::newRow("answers two lines") << QByteArray("+2\n+2\n") << 0 << true;
    QTest::newRow("answers 100 kB") << "+2," + QByteArray(100000, '7') + '\n' << 0 << false;
}

void tst_MeterFaults::everyReadingBelongsToItsQuery()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, delayMs);
    QFETCH(bool, resynchronised);
    const QByteArray identity = "BenchSim,34461A,SIM0003,A.02.14\n";
    // *IDN?, *CLS, then "Read?\n" four times; an *IDN? between the second and
    // third when the driver brings the link back in step.
    const int connect = 11;
    const int marker = resynchronised ? 6 : 0;
    ScriptedPeer peer;
    peer.awaitBytes(6).send(identity);
    peer.awaitBytes(connect + 6).send("+1\n");
    peer.awaitBytes(connect + 12).pause(delayMs).send(reply);
    if (resynchronised)
        peer.awaitBytes(connect + 18).send(identity);
    peer.awaitBytes(connect + 18 + marker).send("+3\n");
    peer.awaitBytes(connect + 24 + marker).send("+4\n");
    peer.start();

    TestContext.dmm = InstrumentConfig();
    TestContext.dmm.address = peer.socketResource();
    DMM_34461A meter;
    QVERIFY(meter.Connect());
    QStringList cells;
    for (int i = 0; i < 4; ++i)
        cells << meter.Query(QStringLiteral("Read?")).trimmed();
    meter.Close();

    const QString second = reply.size() > 200 ? QString::fromLatin1(reply.left(200)) : QString();
    QCOMPARE(cells, QStringList({"+1", second, "+3", "+4"}));
    QByteArray expected = "*IDN?\n*CLS\nRead?\nRead?\n";
    expected += resynchronised ? "*IDN?\nRead?\nRead?\n" : "Read?\nRead?\n";
    QCOMPARE(peer.received(), expected);
}

QTEST_MAIN(tst_MeterFaults)
#include "tst_meterfaults.moc"
