#include "engine/RunThread.h"

#include "context/TestContext.h"

#include <QDebug>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcRun)

RunThread::RunThread(RunSetup setup, QObject *parent)
    : QObject(parent), serial(setup.serial), home(thread())
{
    worker.setObjectName(QStringLiteral("run"));
    runEngine = new RunEngine(std::move(setup));
    runEngine->moveToThread(&worker);
    // The port object is the record's; the run uses it on its own thread.
    if (serial && serial->port.thread() == home)
        serial->port.moveToThread(&worker);
    connect(&worker, &QThread::finished, this, &RunThread::amendWhenEnded, Qt::QueuedConnection);
    worker.start();
}

RunThread::~RunThread()
{
    if (worker.isRunning()) {
        stop();
        if (!wait(kEndWaitMs))
            qCWarning(lcRun) << "the run's thread did not end; waiting on";
        worker.wait();
    }
    // Its thread has ended: nothing of it runs any more.
    delete runEngine;
}

void RunThread::attach(std::function<QObject *(RunEngine *)> make)
{
    attachments.push_back(std::move(make));
}

void RunThread::start()
{
    RunEngine *engine = runEngine;
    auto makers = attachments;
    QMetaObject::invokeMethod(
        engine,
        [this, engine, makers] {
            engine->start();
            for (const auto &make : makers) {
                if (QObject *object = make(engine))
                    attached.push_back(object);
            }
        },
        Qt::QueuedConnection);
}

void RunThread::stop(const QString &reason)
{
    if (stopped)
        return;
    stopped = true;
    runEngine->requestStop();
    QMetaObject::invokeMethod(
        runEngine,
        [this, reason] {
            runEngine->stop(reason);
            endOnEngineThread();
        },
        Qt::QueuedConnection);
}

void RunThread::singleStep()
{
    QMetaObject::invokeMethod(runEngine, &RunEngine::singleStep, Qt::QueuedConnection);
}

void RunThread::amendRecord(const DatabaseResult &database)
{
    amendment = database;
    if (worker.isFinished())
        amendWhenEnded();
}

// The engine is this thread's to call once its own has ended; `finished` comes just before
// that, so the wait is for the last moments of the thread.
void RunThread::amendWhenEnded()
{
    if (!amendment || !worker.wait(kEndWaitMs))
        return;
    runEngine->amendRecord(*amendment);
    amendment.reset();
}

bool RunThread::wait(int ms)
{
    return worker.wait(QDeadlineTimer(ms));
}

// The run has ended: what was made on the engine's thread goes, the port
// goes home, the thread ends. The engine stays for its figures.
void RunThread::endOnEngineThread()
{
    for (auto object = attached.rbegin(); object != attached.rend(); ++object)
        delete *object;
    attached.clear();
    if (serial && serial->port.thread() == &worker)
        serial->port.moveToThread(home);
    worker.quit();
}
