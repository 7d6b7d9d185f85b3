// The multimeter fails in every way the simulated bench can make it fail;
// the run goes on, stays stoppable, keeps what the meter delivered and logs
// what went wrong.
#include "ResultFile.h"
#include "ScriptedPeer.h"
#include "SimulatedBench.h"
#include "WindowDriver.h"

#include <QRegularExpression>
#include <QTest>

namespace {

const QString kNormal = QStringLiteral("+1.23456789E+00");
const int kTimeoutMs = 2000; // the VISA layer's I/O timeout

// How a cell delivered by a misbehaving meter must look.
enum class Delivered
{
    Normal,   // the meter's reading as sent
    CutAtNul, // the part before the NUL byte
    First200, // the first 200 bytes of an over-long reply
    Garbage,  // the bytes as received, white space folded
};

bool cellFits(const QString &cell, Delivered kind)
{
    switch (kind) {
    case Delivered::Normal:
        return cell == kNormal;
    case Delivered::CutAtNul:
        return !cell.isEmpty() && kNormal.startsWith(cell) && cell != kNormal;
    case Delivered::First200:
        return cell.size() == 200 && cell.startsWith(kNormal + QLatin1Char(','));
    case Delivered::Garbage:
        return cell.contains(QStringLiteral("garbage")) && !cell.contains(QLatin1Char('\t'));
    }
    return false;
}

} // namespace

class tst_MeterFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void meterFault_data();
    void meterFault();
    void readingAnsweredAfterTheTimeout();
};

void tst_MeterFaults::initTestCase()
{
}

void tst_MeterFaults::meterFault_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("delivered"); // readings the meter answers before it fails
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("failure"); // the log line that names it

    const int all = 1000;
    QTest::newRow("refuses the connection")
        << QStringList() << true << 0 << int(Delivered::Normal) << "DMM_34461A: Connect Failed";
    QTest::newRow("never answers *IDN?") << QStringList{"--dmm-fault", "silent"} << false << 0
                                         << int(Delivered::Normal) << "DMM_34461A: Comm Failed";
    QTest::newRow("answers after 3 s, beyond the I/O timeout")
        << QStringList{"--dmm-fault", "slow:3000"} << false << 0 << int(Delivered::Normal)
        << "DMM_34461A: Comm Failed";
    QTest::newRow("drops the connection after 2 readings")
        << QStringList{"--dmm-fault", "disconnect:3"} << false << 2 << int(Delivered::Normal)
        << "DMM_34461A: Read Failed";
    QTest::newRow("replies with a NUL byte")
        << QStringList{"--dmm-fault", "nul"} << false << all << int(Delivered::CutAtNul)
        << "DMM_34461A: Reply Has NUL";
    QTest::newRow("replies with more than 200 bytes")
        << QStringList{"--dmm-fault", "long"} << false << all << int(Delivered::First200)
        << "DMM_34461A: Reply Too Long";
    QTest::newRow("replies with garbage") << QStringList{"--dmm-fault", "garbage"} << false << all
                                          << int(Delivered::Garbage) << "TestThread: DMM Measure: ";
}

void tst_MeterFaults::meterFault()
{
    QFETCH(QStringList, options);
    QFETCH(bool, refused);
    QFETCH(int, delivered);
    QFETCH(int, kind);
    QFETCH(QString, failure);

    SimulatedBench bench;
    QVERIFY2(bench.start(options), qPrintable(bench.error()));
    WindowDriver run(bench);
    if (refused)
        run.setMeter(bench.refusedResource());
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
        if (i < delivered)
            QVERIFY2(cellFits(cells[i], Delivered(kind)), qPrintable(cells[i]));
        else
            QCOMPARE(cells[i], QStringLiteral("ERR"));
    }

    const QString named = run.logLine(failure);
    QVERIFY2(!named.isEmpty(), qPrintable(run.log().lines().join('\n')));

    // No reading waits longer than one I/O timeout.
    qint64 previous = 0;
    for (const LogCapture::Entry &entry : run.log().entries()) {
        if (!entry.text.contains(QStringLiteral("TestThread: DMM Measure: ")))
            continue;
        if (previous != 0)
            QVERIFY2(
                entry.timeMs - previous < kTimeoutMs + 500,
                qPrintable(QStringLiteral("%1 ms between readings").arg(entry.timeMs - previous)));
        previous = entry.timeMs;
    }

    const int valid = int(cells.size()) - file.errCount();
    const char *shapes[] = {"as sent", "cut at the NUL byte", "cut to their first 200 bytes",
                            "as received"};
    QString kept = QStringLiteral("%1 of %2 readings kept %3")
                       .arg(valid)
                       .arg(cells.size())
                       .arg(QLatin1String(shapes[kind]));
    if (file.errCount() > 0)
        kept += QStringLiteral(", %1 ERR").arg(file.errCount());
}

// The simulated meter's slow mode delays every reply, *IDN? included, so a
// scripted meter answers the first reading late and the others in time.
void tst_MeterFaults::readingAnsweredAfterTheTimeout()
{
    const auto reading = [](int i) {
        return QStringLiteral("+%1.00000000E+00").arg(i);
    };
    // *IDN?, *CLS from the connect, then the DAC set-up: 81 bytes; "Read?\n" is 6.
    const int setup = 81;
    ScriptedPeer peer;
    peer.awaitBytes(6).send("BenchSim,34461A,SIM0002,A.02.14\n");
    peer.awaitBytes(setup + 6).pause(kTimeoutMs + 100).send(reading(1).toLatin1() + '\n');
    for (int i = 2; i <= 4; ++i)
        peer.awaitBytes(setup + 6 * i).send(reading(i).toLatin1() + '\n');
    peer.start();

    SimulatedBench bench;
    QVERIFY2(bench.start(), qPrintable(bench.error()));
    WindowDriver run(bench);
    run.setMeter(peer.socketResource());
    run.setParams({"3", "300", "2", "300"});
    run.clickStart();
    QVERIFY(WindowDriver::waitUntil(
        [&] { return ResultFile::parse(run.resultBytes()).rows.size() >= 3 || run.isIdle(); },
        10000));
    QVERIFY(run.stopAndStayStopped());

    const ResultFile file = ResultFile::parse(run.resultBytes());
    // The late reply is not taken for the next reading: each stays in its place.
    QCOMPARE(file.readings(), QStringList({"ERR", reading(2), reading(3), reading(4)}));
    const QString timedOut = run.logLine(QStringLiteral("DMM_34461A: Read Failed [VI_ERROR_TMO"));
    const QString dropped = run.logLine(QStringLiteral("DMM_34461A: Late Reply Dropped"));
    QVERIFY(!timedOut.isEmpty());
    QVERIFY(!dropped.isEmpty());
}

QTEST_MAIN(tst_MeterFaults)
#include "tst_meterfaults.moc"
