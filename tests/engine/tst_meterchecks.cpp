// The checks a run makes of its meter before it has a file, on the run's own
// session, against a scripted meter on a real socket: late, refusing its
// set-up, babbling, gone, and at random. Each verdict comes within the
// checks' budget, whatever the meter does, and a refused run leaves nothing.
#include "context/TestContext.h"
#include "engine/RunEngine.h"
#include "tests/support/ContextReset.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TestSeed.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kIdentity = "BenchSim,34461A,SIM0001,A.02.14\n";
const QByteArray kNoError = "+0,\"No error\"\n";
const int kIdnBytes = 6;    // "*IDN?\n"
const int kErrorBytes = 10; // "SYST:ERR?\n"
const QStringList kSetup = dacTestKind().meterSetup;

// *IDN?, the driver's *CLS and the set-up, line ends included.
int bytesBeforeTheQueue()
{
    int total = kIdnBytes + 5;
    for (const QString &command : kSetup)
        total += int(command.size()) + 1;
    return total;
}

struct Verdict
{
    bool started = false;
    QString failure;
    qint64 ms = 0;
};

} // namespace

class tst_MeterChecks : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void meterRefused_data();
    void meterRefused();
    void verdictFollowsTheMeter_randomized();

private:
    // Starts a checked run against `resource` and stops it as soon as it has
    // its file: no reading is asked for.
    Verdict check(const QString &resource);

    QTemporaryDir *folder = nullptr;
};

void tst_MeterChecks::init()
{
    resetTestContext();
    folder = new QTemporaryDir;
}

void tst_MeterChecks::cleanup()
{
    delete folder;
    folder = nullptr;
}

Verdict tst_MeterChecks::check(const QString &resource)
{
    RunSetup run;
    run.parameters = {"2", "0", "1", "0"};
    run.testName = dacTestKind().title;
    run.folder = folder->path();
    run.meterAddress = resource;
    run.checkInstruments = true;
    RunEngine engine(run);
    connect(&engine, &RunEngine::runStarted, &engine, [&engine] { engine.stop(); });
    Verdict verdict;
    connect(&engine, &RunEngine::runStarted, this, [&verdict] { verdict.started = true; });
    QElapsedTimer elapsed;
    elapsed.start();
    engine.start();
    verdict.ms = elapsed.elapsed();
    verdict.failure = engine.outcome().failure;
    engine.stop();
    if (!verdict.started && !QDir(folder->path()).isEmpty())
        verdict.failure += QStringLiteral(" (and a file was left)");
    return verdict;
}

void tst_MeterChecks::meterRefused_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("pattern"); // of the failure after "the multimeter at <resource> "

    QTest::newRow("identity after the timeout") << "late"
                                                << "does not answer \\*IDN\\?";
    QTest::newRow("set-up refused")
        << "refuses"
        << "refused its set-up: -222,\"Data out of range\" \\(set-up: \\*CLS; CONF:VOLT:DC; "
           "VOLT:DC:NPLC 10; VOLT:DC:IMP:AUTO ON; VOLT:DC:RANG 10\\)";
    QTest::newRow("no error queue") << "no queue"
                                    << "does not answer SYST:ERR\\? after its set-up";
    QTest::newRow("endless errors")
        << "endless"
        << "still reports errors after 32 entries of its queue: -100,\"Command error\"";
    // Each command finds it gone and opens it again; the budget ends that.
    QTest::newRow("gone after its identity")
        << "closes"
        << "(does not answer SYST:ERR\\? after its set-up|does not finish its checks in time)";
}

void tst_MeterChecks::meterRefused()
{
    QFETCH(QString, script);
    QFETCH(QString, pattern);

    ScriptedPeer peer;
    const int queue = bytesBeforeTheQueue();
    peer.awaitBytes(kIdnBytes).pause(script == "late" ? RunSetup::kCheckExchangeMs + 300 : 0);
    peer.send(kIdentity);
    if (script == "refuses") {
        peer.awaitBytes(queue + kErrorBytes).send("-222,\"Data out of range\"\n");
        peer.awaitBytes(queue + 2 * kErrorBytes).send(kNoError);
    }
    for (int i = 1; script == "endless" && i <= 40; ++i)
        peer.awaitBytes(queue + i * kErrorBytes).send("-100,\"Command error\"\n");
    if (script == "closes")
        peer.awaitBytes(kIdnBytes + 1).close();
    peer.start();
    const QString resource = peer.socketResource();

    const Verdict verdict = check(resource);
    QVERIFY(!verdict.started);
    QVERIFY2(QRegularExpression("^the multimeter at " + QRegularExpression::escape(resource) + ' ' +
                                pattern + '$')
                 .match(verdict.failure)
                 .hasMatch(),
             qPrintable(verdict.failure));
    if (script == "late") // the timeout was waited out, never cut short
        QVERIFY2(verdict.ms >= RunSetup::kCheckExchangeMs, qPrintable(QString::number(verdict.ms)));
    QVERIFY2(verdict.ms < RunSetup::kCheckBudgetMs + 500, qPrintable(QString::number(verdict.ms)));
}

// Invariant: the run goes ahead exactly when the meter answered *IDN? within
// an exchange's time and its queue held no error after the set-up; whatever
// the meter does, the verdict comes within the budget.
void tst_MeterChecks::verdictFollowsTheMeter_randomized()
{
    QRandomGenerator random(testSeed(Q_FUNC_INFO));
    for (int round = 0; round < 12; ++round) {
        ScriptedPeer peer;
        const int queue = bytesBeforeTheQueue();
        const int identityDelay =
            random.bounded(8) == 0 ? RunSetup::kCheckExchangeMs + 400 : random.bounded(300);
        const int errors = random.bounded(4) == 0 ? random.bounded(1, 4) : 0;
        const bool stray = random.bounded(6) == 0; // a reading where the queue's end should be
        peer.awaitBytes(kIdnBytes).pause(identityDelay).send(kIdentity);
        for (int i = 0; i < errors; ++i)
            peer.awaitBytes(queue + (i + 1) * kErrorBytes)
                .pause(random.bounded(50))
                .send(QByteArray::number(-100 - i) + ",\"Command error\"\n");
        peer.awaitBytes(queue + (errors + 1) * kErrorBytes).send(stray ? "+4.2E-01\n" : kNoError);
        peer.start();

        const Verdict verdict = check(peer.socketResource());
        const QString what = QStringLiteral("round %1: identity after %2 ms, %3 errors%4: %5")
                                 .arg(round)
                                 .arg(identityDelay)
                                 .arg(errors)
                                 .arg(stray ? ", a stray reading" : "", verdict.failure);
        QVERIFY2(verdict.started ==
                     (identityDelay < RunSetup::kCheckExchangeMs && errors == 0 && !stray),
                 qPrintable(what));
        QVERIFY2(verdict.ms < RunSetup::kCheckBudgetMs + 500, qPrintable(what));
    }
}

QTEST_GUILESS_MAIN(tst_MeterChecks)
#include "tst_meterchecks.moc"
