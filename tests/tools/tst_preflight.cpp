// The checks before a run, each against the real thing: a scripted meter on
// a real socket (late, refusing its set-up, babbling, gone; at random too)
// and tmpfs folders in a private mount namespace (full, read-only, out of
// inodes). What a runner process shows of each failure is in tst_runnerplan.
#include "plan/PlanFile.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TestSeed.h"
#include "tools/runner/Preflight.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sched.h>
#include <sys/mount.h>

namespace {

const QByteArray kIdentity = "BenchSim,34461A,SIM0001,A.02.14\n";
const QByteArray kNoError = "+0,\"No error\"\n";
const int kIdnBytes = 6;    // "*IDN?\n"
const int kErrorBytes = 10; // "SYST:ERR?\n"

RunPlan planFor(const QString &meter, const QByteArray &meterKeys = QByteArray())
{
    PlanSettings settings;
    RunPlan plan;
    QString error;
    const QByteArray text =
        meter.isEmpty() ? QByteArray() : "[meter]\nresource = " + meter.toUtf8() + "\n" + meterKeys;
    if (!PlanFile::parse(text, "test.ini", &settings, &error) ||
        !RunPlan::resolve(settings, &plan, &error))
        qFatal("%s", qPrintable(error));
    return plan;
}

// The bytes of *IDN? and the set-up on the wire.
int bytesBeforeTheQueue(const RunPlan &plan)
{
    int total = kIdnBytes;
    for (const QString &command : plan.meter.commands())
        total += int(command.size()) + 1;
    return total;
}

} // namespace

class tst_Preflight : public QObject
{
    Q_OBJECT

private slots:
    void meterTakesItsSetup_wireAsSent();
    void meterRefused_data();
    void meterRefused();
    void verdictFollowsTheMeter_randomized();
    void withoutAMeterByChoice();
    void folder();
    void cheapestFirst();
};

void tst_Preflight::meterTakesItsSetup_wireAsSent()
{
    ScriptedPeer peer;
    const RunPlan plan = planFor(peer.socketResource());
    peer.awaitBytes(kIdnBytes).send(kIdentity);
    peer.awaitBytes(bytesBeforeTheQueue(plan) + kErrorBytes).send(kNoError);
    peer.start();
    Preflight preflight(plan, QDir::tempPath(), false);
    QString failure;
    QVERIFY2(preflight.run(&failure), qPrintable(failure));
    QCOMPARE(preflight.meterIdentity(), QStringLiteral("BenchSim,34461A,SIM0001,A.02.14"));
    QTRY_COMPARE(peer.received(), QByteArray("*IDN?\n*CLS\nCONF:VOLT:DC\nVOLT:DC:NPLC 10\n"
                                             "VOLT:DC:IMP:AUTO ON\nVOLT:DC:RANG 10\nSYST:ERR?\n"));
}

void tst_Preflight::meterRefused_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("pattern"); // of the failure's end

    QTest::newRow("identity after the timeout") << "late"
                                                << "does not answer \\*IDN\\? \\(VI_ERROR_TMO\\)";
    QTest::newRow("no error queue")
        << "no queue"
        << "does not answer SYST:ERR\\? after its set-up \\(VI_ERROR_TMO\\)";
    QTest::newRow("endless errors")
        << "endless"
        << "still reports errors after 32 entries of its queue: -100,\"Command error\"";
    // Whether a write or the read finds the connection gone first is the kernel's affair.
    QTest::newRow("gone after its identity")
        << "closes"
        << "(did not take its set-up command .*|does not answer SYST:ERR\\? after its set-up) "
           "\\(VI_ERROR_CONN_LOST\\)";
}

// Each failure ends within the meter's budget, however the meter behaves.
void tst_Preflight::meterRefused()
{
    QFETCH(QString, script);
    QFETCH(QString, pattern);

    ScriptedPeer peer;
    const RunPlan plan = planFor(peer.socketResource());
    const int queue = bytesBeforeTheQueue(plan);
    peer.awaitBytes(kIdnBytes).pause(script == "late" ? Preflight::kExchangeTimeoutMs + 300 : 0);
    peer.send(kIdentity);
    for (int i = 1; script == "endless" && i <= Preflight::kMaxQueueEntries + 5; ++i)
        peer.awaitBytes(queue + i * kErrorBytes).send("-100,\"Command error\"\n");
    if (script == "closes")
        peer.awaitBytes(kIdnBytes + 1).close();
    peer.start();

    QString failure;
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!Preflight(plan, QDir::tempPath(), false).run(&failure));
    const qint64 took = elapsed.elapsed();
    QVERIFY2(QRegularExpression("^the multimeter at " +
                                QRegularExpression::escape(peer.socketResource()) + " .*" +
                                pattern + '$')
                 .match(failure)
                 .hasMatch(),
             qPrintable(failure));
    if (script == "late") // the timeout was waited out, never cut short
        QVERIFY2(took >= Preflight::kExchangeTimeoutMs, qPrintable(QString::number(took)));
    QVERIFY2(took < Preflight::kMeterBudgetMs + 500, qPrintable(QString::number(took)));
}

// Invariant: the checks pass exactly when the meter answered *IDN? within the
// exchange's timeout and its queue held no error after the set-up; whatever
// the meter does, the verdict comes within the budget.
void tst_Preflight::verdictFollowsTheMeter_randomized()
{
    QRandomGenerator random(testSeed(Q_FUNC_INFO));
    for (int round = 0; round < 12; ++round) {
        ScriptedPeer peer;
        const RunPlan plan = planFor(peer.socketResource());
        const int queue = bytesBeforeTheQueue(plan);
        const int identityDelay =
            random.bounded(8) == 0 ? Preflight::kExchangeTimeoutMs + 400 : random.bounded(300);
        const int errors = random.bounded(4) == 0 ? random.bounded(1, 4) : 0;
        const bool stray = random.bounded(6) == 0; // a reading where the queue's end should be
        peer.awaitBytes(kIdnBytes).pause(identityDelay).send(kIdentity);
        for (int i = 0; i < errors; ++i)
            peer.awaitBytes(queue + (i + 1) * kErrorBytes)
                .pause(random.bounded(50))
                .send(QByteArray::number(-100 - i) + ",\"Command error\"\n");
        peer.awaitBytes(queue + (errors + 1) * kErrorBytes).send(stray ? "+4.2E-01\n" : kNoError);
        peer.start();

        QString failure;
        QElapsedTimer elapsed;
        elapsed.start();
        const bool passed = Preflight(plan, QDir::tempPath(), false).run(&failure);
        const QString what = QStringLiteral("round %1: identity after %2 ms, %3 errors%4: %5")
                                 .arg(round)
                                 .arg(identityDelay)
                                 .arg(errors)
                                 .arg(stray ? ", a stray reading" : "", failure);
        QVERIFY2(passed == (identityDelay < Preflight::kExchangeTimeoutMs && errors == 0 && !stray),
                 qPrintable(what));
        QVERIFY2(elapsed.elapsed() < Preflight::kMeterBudgetMs + 500, qPrintable(what));
    }
}

void tst_Preflight::withoutAMeterByChoice()
{
    QString failure;
    QVERIFY2(Preflight(planFor(QString()), QDir::tempPath(), true).run(&failure),
             qPrintable(failure));
    // A meter that is not there, or silent, is no failure then: the run records ERR cells.
    ScriptedPeer silent;
    silent.start();
    QVERIFY(Preflight(planFor(silent.socketResource()), QDir::tempPath(), true).run(&failure));
    QVERIFY(
        Preflight(planFor("TCPIP0::127.0.0.1::1::SOCKET"), QDir::tempPath(), true).run(&failure));
    // A meter that answers as another still stops the run.
    ScriptedPeer other;
    other.awaitBytes(kIdnBytes).send(kIdentity);
    other.start();
    QVERIFY(!Preflight(planFor(other.socketResource(), "expect-idn = ^Other,\n"), QDir::tempPath(),
                       true)
                 .run(&failure));
    QVERIFY2(failure.endsWith("not the expected identity '^Other,'"), qPrintable(failure));
}

// Folders on small tmpfs mounts that this thread alone sees.
void tst_Preflight::folder()
{
    QTemporaryDir base;
    const QString small = base.filePath("small");
    const QString readOnly = base.filePath("read-only");
    const QString noInodes = base.filePath("no-inodes");
    const std::pair<QString, const char *> mounts[] = {
        {small, "size=64k"}, {readOnly, "size=64k"}, {noInodes, "size=64k,nr_inodes=2"}};
    const auto unmount = qScopeGuard([&] {
        for (const auto &[path, options] : mounts)
            ::umount(QFile::encodeName(path).constData());
    });
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        QSKIP("no private mount namespace here (needs CAP_SYS_ADMIN)");
    for (const auto &[path, options] : mounts) {
        QVERIFY(QDir().mkdir(path));
        QVERIFY(::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs",
                        path == readOnly ? MS_RDONLY : 0, options) == 0);
    }

    QString failure;
    QVERIFY2(Preflight::checkFolder(small, 60 * 1024, &failure), qPrintable(failure));
    QVERIFY(!Preflight::checkFolder(small, 65 * 1024, &failure));
    QCOMPARE(
        failure,
        QStringLiteral("result folder %1 has 64 KiB free, the run needs about 65 KiB").arg(small));
    QVERIFY(!Preflight::checkFolder(readOnly, 1, &failure));
    QCOMPARE(failure, QStringLiteral("result folder %1 is not writable").arg(readOnly));
    QVERIFY(!Preflight::checkFolder(noInodes, 1, &failure));
    QCOMPARE(failure,
             QStringLiteral("result folder %1 has no room for another file (no free inode)")
                 .arg(noInodes));
}

// A missing folder is told before the meter is contacted; a plan made by
// hand is checked like a resolved one.
void tst_Preflight::cheapestFirst()
{
    ScriptedPeer peer;
    peer.start();
    RunPlan plan = planFor(peer.socketResource());
    QString failure;
    QVERIFY(!Preflight(plan, "/no/such/folder", false).run(&failure));
    QCOMPARE(failure, QStringLiteral("result folder /no/such/folder does not exist"));
    QCOMPARE(peer.received(), QByteArray());
    plan.readingsPerStep = 0;
    QVERIFY(!Preflight(plan, QDir::tempPath(), false).run(&failure));
    QCOMPARE(failure, QStringLiteral(
                          "the plan is not valid: 0 readings a step is not between 1 and 100000"));
}

QTEST_GUILESS_MAIN(tst_Preflight)
#include "tst_preflight.moc"
