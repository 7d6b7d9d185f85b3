#include "sequences/TestSequence.h"

#include "context/TestContext.h"
#include "database/RunEngineDatabaseLink.h"
#include "sequences/RunDisplay.h"
#include "sequences/RunTexts.h"
#include "settings/ConfigLocation.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcTest, "benchtest.test")

TestSequence::TestSequence(const TestKind &kind, RunDisplay *ui)
    : QThread(nullptr), kind(kind), ui(ui)
{
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &TestSequence::stopForQuit);
}

TestSequence::~TestSequence()
{
    if (run)
        run->stop(QStringLiteral("the window was closed"));
}

void TestSequence::logCreated()
{
    qCDebug(lcTest) << "TestThread: Created";
}

void TestSequence::showHelp()
{
    ui->showHelp(kind.description());
}

void TestSequence::initEnvironment()
{
    qCDebug(lcTest) << QStringLiteral("TestThread: Init Test Enviroment");

    RunSetup setup;
    setup.kind = &kind;
    for (size_t i = 0; i < setup.parameters.size(); ++i)
        setup.parameters[i] = TestContext.vars[i];
    setup.testName = TestContext.testName;
    setup.testItem = TestContext.testItem;
    setup.tester = TestContext.tester;
    setup.folder = TestContext.savePath;
    setup.meterAddress = TestContext.dmm.address;
    setup.serial = &TestContext.uart;
    // The window turns single-step mode on after this slot has returned.
    setup.autoRun = [] {
        return TestContext.autoRun.load();
    };

    // A start without a stop in between must not leak the previous run, and
    // a run that was stopped holds the port until its thread has ended.
    if (run)
        ending.push_back(std::move(run));
    for (const auto &stopped : ending)
        stopped->stop();
    waitForEndedRuns();

    run = std::make_unique<RunThread>(setup);
    RunEngine *engine = run->engine();
    // The window's record of the run is kept on the window's thread; the
    // run keeps copies of its own.
    TestContext.startTime = QDateTime::currentMSecsSinceEpoch() + RunEngine::kFirstSendMs;
    TestContext.resultFilePath.clear();
    latest = run.get();
    connect(engine, &RunEngine::recordChanged, this,
            [current = run.get(), this](const RunRecord &record) {
                if (latest == current) // stopped or not: a run stopped at once has its file too
                    TestContext.resultFilePath = record.resultFile;
            });
    // The engine's thread is another: these arrive queued, in the order sent.
    connect(engine, &RunEngine::valueSent, this, [this](qint64, qint32 value) {
        ui->showStatus(QStringLiteral("UART Send %1: %2").arg(kind.valueName).arg(value));
    });
    connect(engine, &RunEngine::readingTaken, this,
            [this](qint64, qint64 index, const QString &cell) { showReading(index, cell); });
    connect(engine, &RunEngine::progressChanged, this, &TestSequence::showProgress);
    connect(engine, &RunEngine::faultNoticed, this,
            [this](const QString &what) { ui->showStatus(what); });
    // A run that was stopped ends later on its thread: only the current run's
    // end is the window's business.
    connect(engine, &RunEngine::runEnded, this,
            [this, current = run.get()](const RunOutcome &outcome) {
                if (run.get() == current)
                    runEnded(outcome);
            });
    database = RunEngineDatabaseLink::attach(engine,
                                             DatabaseUrl::fromConfigFile(usableProgramConfigFile()));
    // Once the database has settled after the run, the run's record says what it has.
    if (database)
        connect(database.get(), &RunEngineDatabaseLink::settled, run.get(),
                [ended = run.get()](const DatabaseResult &result) { ended->amendRecord(result); });
    run->start();
    ui->showProgress(RunTexts::progressStarting(), 0);
}

void TestSequence::deinitEnvironment()
{
    qCDebug(lcTest) << "TestThread: Deinit Test Enviroment";
    // The stop takes effect at once; the run ends on its own thread, and the
    // next start waits for that.
    if (run) {
        run->stop(QStringLiteral("the operator"));
        ending.push_back(std::move(run));
    }
}

void TestSequence::waitForEndedRuns()
{
    for (const auto &stopped : ending)
        (void)stopped->wait(RunThread::kEndWaitMs);
    ending.clear();
}

// The window was closed (or the program quits otherwise): the run stops as
// if the operator had pressed Stop, and its record is finished before the
// program ends.
void TestSequence::stopForQuit()
{
    if (run) {
        run->stop(QStringLiteral("the window was closed"));
        ending.push_back(std::move(run));
    }
    waitForEndedRuns();
}

void TestSequence::singleStep()
{
    qCDebug(lcTest) << "TestThread: Single Step";
    if (run)
        run->singleStep();
}

// The phases run on the engine's thread.
void TestSequence::sendValue()
{
    if (run)
        QMetaObject::invokeMethod(run->engine(), &RunEngine::sendValue, Qt::QueuedConnection);
}

void TestSequence::takeReading()
{
    if (run)
        QMetaObject::invokeMethod(run->engine(), &RunEngine::takeReading, Qt::QueuedConnection);
}

void TestSequence::calcProgress()
{
    if (run)
        QMetaObject::invokeMethod(run->engine(), &RunEngine::reportProgress,
                                  Qt::QueuedConnection);
}

void TestSequence::showReading(qint64 index, const QString &cell)
{
    // The number goes in first, so that a reply holding "%1" is shown as it came.
    ui->showStatus(QStringLiteral("DMM Measure %1: ").arg(index) + cell);
}

void TestSequence::showProgress(const RunProgress &progress)
{
    ui->showProgress(RunTexts::progress(progress), progress.percent);
}

void TestSequence::runEnded(const RunOutcome &outcome)
{
    if (outcome.status == RunOutcome::Stopped)
        return; // the run control stopped it and knows
    if (outcome.status == RunOutcome::Finished && outcome.stepsDone > 0)
        ui->showProgress(RunTexts::progressFinished(), 100);
    // A run that is not whole says so where the operator looks last.
    if (!outcome.isClean())
        ui->showStatus(RunTexts::summary(outcome));
    // Ends the run through the window's own stop path, which comes back to
    // deinitEnvironment() before this returns.
    ui->endRun();
}
