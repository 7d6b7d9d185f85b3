#include "sequences/TestSequence.h"

#include "context/TestContext.h"
#include "database/RunEngineDatabaseLink.h"
#include "sequences/RunDisplay.h"
#include "settings/ConfigLocation.h"

#include <QDebug>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcTest, "benchtest.test")

TestSequence::TestSequence(const TestKind &kind, RunDisplay *ui)
    : QThread(nullptr), kind(kind), ui(ui)
{}

TestSequence::~TestSequence() = default;

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
        return TestContext.autoRun;
    };

    // A start without a stop in between must not leak the previous run.
    engine.reset();
    engine = std::make_unique<RunEngine>(setup);
    connect(engine.get(), &RunEngine::valueSent, this, [this](qint64, qint32 value) {
        ui->showStatus(QStringLiteral("UART Send %1: %2").arg(kind.valueName).arg(value));
    });
    connect(engine.get(), &RunEngine::readingTaken, this,
            [this](qint64, qint64 index, const QString &cell) { showReading(index, cell); });
    connect(engine.get(), &RunEngine::progressChanged, this, &TestSequence::showProgress);
    connect(engine.get(), &RunEngine::faultNoticed, this,
            [this](const QString &what) { ui->showStatus(what); });
    connect(engine.get(), &RunEngine::runEnded, this, &TestSequence::runEnded);
    engine->start();
    database = RunEngineDatabaseLink::attach(engine.get(),
                                             DatabaseUrl::fromConfigFile(programConfigFile()));
    ui->showProgress(QStringLiteral("进度：--"), 0);
}

void TestSequence::deinitEnvironment()
{
    qCDebug(lcTest) << "TestThread: Deinit Test Enviroment";
    if (engine)
        engine->stop();
    // Deleted later: the stop may come from inside one of the engine's own
    // signals. Kept as a child meanwhile, so it cannot outlive this object.
    if (RunEngine *ended = engine.release()) {
        ended->setParent(this);
        ended->deleteLater();
    }
}

void TestSequence::singleStep()
{
    qCDebug(lcTest) << "TestThread: Single Step";
    if (engine)
        engine->singleStep();
}

void TestSequence::sendValue()
{
    if (engine)
        engine->sendValue();
}

void TestSequence::takeReading()
{
    if (engine)
        engine->takeReading();
}

void TestSequence::calcProgress()
{
    if (engine)
        engine->reportProgress();
}

void TestSequence::showReading(qint64 index, const QString &cell)
{
    // The number goes in first, so that a reply holding "%1" is shown as it came.
    ui->showStatus(QStringLiteral("DMM Measure %1: ").arg(index) + cell);
}

void TestSequence::showProgress(const RunProgress &progress)
{
    ui->showProgress(progress.text, progress.percent);
}

void TestSequence::runEnded(const RunOutcome &outcome)
{
    if (outcome.status == RunOutcome::Stopped)
        return; // the run control stopped it and knows
    if (outcome.status == RunOutcome::Finished && outcome.stepsDone > 0)
        ui->showProgress(QStringLiteral("进度：已完成！"), 100);
    // A run that is not whole says so where the operator looks last.
    if (!outcome.isClean())
        ui->showStatus(outcome.summary());
    // Ends the run through the window's own stop path, which comes back to
    // deinitEnvironment() before this returns.
    ui->endRun();
}
